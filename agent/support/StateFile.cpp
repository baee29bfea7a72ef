#include "agent/support/StateFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <system_error>

#include "agent/support/AtomicFile.h"
#include "agent/support/Log.h"

namespace kx {

namespace {

std::string utcStamp() {
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
    return text;
}

bool taken(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::symlink_status(path, error).type() != std::filesystem::file_type::not_found;
}

}  // namespace

StateFile::StateFile(std::filesystem::path path, mode_t mode) : path_(std::move(path)), mode_(mode) {}

std::optional<std::string> StateFile::read() {
    try {
        return readRegularFile(path_, kMaxBytes);
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::no_such_file_or_directory) return std::nullopt;
        reportProblem(std::string("cannot be read: ") + error.what());
        return std::nullopt;
    }
}

void StateFile::reportProblem(const std::string& problem) {
    std::size_t count;
    {
        std::lock_guard guard(lock_);
        damaged_ = true;
        count = ++problems_;
    }
    if (count <= kLoggedProblems)
        log::error(path_.string() + ": " + problem);
    else if (count == kLoggedProblems + 1)
        log::error(path_.string() + ": further problems are not listed");
    if (count == 1) log::error(path_.string() + " will be kept aside before it is next written");
}

bool StateFile::write(std::string_view contents) {
    std::lock_guard writing(writeLock_);
    if (!keepAside()) return false;
    try {
        writeFileAtomically(path_, contents, mode_);
    } catch (const std::system_error& error) {
        log::error("could not save " + path_.string() + ": " + error.what());
        setSaveError(error.what());
        return false;
    }
    setSaveError(std::nullopt);
    return true;
}

bool StateFile::keepAside() {
    {
        std::lock_guard guard(lock_);
        if (!damaged_) return true;
    }
    const std::string base = path_.string() + kAsideMarker + utcStamp();
    for (int n = 1; n <= kAsideNames; ++n) {
        const std::filesystem::path aside = n == 1 ? base : base + "-" + std::to_string(n);
        if (taken(aside)) continue;
        const bool moved = ::rename(path_.c_str(), aside.c_str()) == 0;
        if (!moved && errno != ENOENT) {
            const std::string why = "could not keep " + path_.string() + " aside as " + aside.string() + ": " +
                                    std::generic_category().message(errno) + "; it is not overwritten";
            log::error(why);
            setSaveError(why);
            return false;
        }
        struct stat info {};
        if (moved && ::lstat(aside.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::chmod(aside.c_str(), kAsideMode);
        if (moved) log::info("kept the original " + path_.string() + " as " + aside.string());
        std::lock_guard guard(lock_);
        damaged_ = false;
        return true;
    }
    setSaveError("no free name to keep " + path_.string() + " aside; it is not overwritten");
    log::error(*saveError());
    return false;
}

void StateFile::setSaveError(std::optional<std::string> error) {
    std::lock_guard guard(lock_);
    if (saveError_ && !error) log::info("saved " + path_.string() + " again");
    saveError_ = std::move(error);
}

std::optional<std::string> StateFile::saveError() const {
    std::lock_guard guard(lock_);
    return saveError_;
}

}  // namespace kx
