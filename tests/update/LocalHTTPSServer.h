#pragma once

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/Subprocess.h"
#include "tests/support/TempFolder.h"

namespace kx::testing {

// The update host for tests: update_server.py on 127.0.0.1 at a free port, behind TLS with a
// certificate from a test certificate authority made for this run. `ready()` is false when
// python3 or openssl is missing.
class LocalHTTPSServer {
public:
    LocalHTTPSServer() {
        try {
            Subprocess certificates({"python3", script(), "make-certs", folder_.path().string()});
            if (!certificates.waitFor(std::chrono::minutes(1)) || certificates.exitCode() != 0) return;
            server_ = std::make_unique<Subprocess>(
                std::vector<std::string>{"python3", script(), "serve", folder_.path().string()});
        } catch (const std::system_error&) {
            return;
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream portFile(folder_ / "port");
            if (portFile >> port_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

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

    void writeRoutes() {
        auto temporary = folder_ / "routes.json.tmp";
        std::ofstream(temporary) << routes_.dump();
        std::filesystem::rename(temporary, folder_ / "routes.json");
    }

    TempFolder folder_;
    std::unique_ptr<Subprocess> server_;
    int port_ = 0;
    int bodies_ = 0;
    nlohmann::json routes_ = nlohmann::json::object();
};

}  // namespace kx::testing
