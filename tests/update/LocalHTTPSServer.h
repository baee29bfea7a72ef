#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/TempFolder.h"

extern char** environ;

namespace kx::testing {

// The update host for tests: update_server.py on 127.0.0.1 at a free port, behind TLS with a
// certificate from a test certificate authority made for this run. `ready()` is false when
// python3 or openssl is missing.
class LocalHTTPSServer {
public:
    LocalHTTPSServer() {
        if (!run({"python3", script(), "make-certs", folder_.path().string()})) return;
        std::vector<std::string> serve{"python3", script(), "serve", folder_.path().string()};
        pid_ = spawn(serve);
        if (pid_ <= 0) return;
        constexpr auto kStartLimit = std::chrono::seconds(20);
        auto deadline = std::chrono::steady_clock::now() + kStartLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream portFile(folder_ / "port");
            if (portFile >> port_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~LocalHTTPSServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    LocalHTTPSServer(const LocalHTTPSServer&) = delete;
    LocalHTTPSServer& operator=(const LocalHTTPSServer&) = delete;

    bool ready() const { return port_ > 0; }
    int port() const { return port_; }
    std::string baseURL() const { return "https://127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string& path) const { return baseURL() + path; }
    std::filesystem::path caFile() const { return folder_ / "ca.pem"; }

    // Serves `path` with the given status and the bytes of `body`.
    void serveBody(const std::string& path, const std::string& body, int status = 200) {
        std::string name = "body-" + std::to_string(bodies_++);
        std::ofstream(folder_ / name, std::ios::binary) << body;
        routes_[path] = {{"status", status}, {"file", name}};
        writeRoutes();
    }
    // Serves `path` with `bytes` bytes of filler.
    void serveFiller(const std::string& path, std::size_t bytes, int status = 200) {
        routes_[path] = {{"status", status}, {"repeat", bytes}};
        writeRoutes();
    }
    // Answers `path` with a status and no body, or a redirect when `location` is given.
    void serveStatus(const std::string& path, int status, const std::string& location = "") {
        routes_[path] = {{"status", status}};
        if (!location.empty()) routes_[path]["location"] = location;
        writeRoutes();
    }

    // "<path> <user agent>" for every request so far.
    std::vector<std::string> requests() const {
        std::vector<std::string> lines;
        std::ifstream log(folder_ / "requests.log");
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

private:
    static std::string script() {
        const char* source = std::getenv("KX_SOURCE_DIR");
        return std::string(source ? source : ".") + "/tests/update/update_server.py";
    }

    static pid_t spawn(const std::vector<std::string>& arguments) {
        std::vector<char*> argv;
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
        return pid;
    }

    static bool run(const std::vector<std::string>& arguments) {
        pid_t pid = spawn(arguments);
        int status = 0;
        return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    void writeRoutes() {
        auto temporary = folder_ / "routes.json.tmp";
        std::ofstream(temporary) << routes_.dump();
        std::filesystem::rename(temporary, folder_ / "routes.json");
    }

    TempFolder folder_;
    pid_t pid_ = -1;
    int port_ = 0;
    int bodies_ = 0;
    nlohmann::json routes_ = nlohmann::json::object();
};

}  // namespace kx::testing
