#pragma once

#include <exception>
#include <optional>
#include <string>

namespace kx {

// An update problem with a sentence meant for the user; shown as "Update failed: " + reason.
struct UpdateFailure : std::exception {
    std::string reason;
    // For a problem that sends the user to the download page: the reason to give instead when the
    // page could not be shown (it names the page's address rather than saying that it is open).
    std::optional<std::string> reasonWithoutPage;

    explicit UpdateFailure(std::string r, std::optional<std::string> withoutPage = std::nullopt)
        : reason(std::move(r)), reasonWithoutPage(std::move(withoutPage)) {}
    const char* what() const noexcept override { return reason.c_str(); }

    friend bool operator==(const UpdateFailure& a, const UpdateFailure& b) {
        return a.reason == b.reason && a.reasonWithoutPage == b.reasonWithoutPage;
    }
};

}  // namespace kx
