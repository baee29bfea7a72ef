#include "agent/installed/InstalledAppScanner.h"

#include <unicode/coll.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace kx {

namespace {

// Names compared as the user's locale orders them, ignoring case (secondary strength keeps accents
// apart but folds case). Without a collator, a plain byte comparison still gives a stable order.
class NameOrder {
public:
    NameOrder() {
        // The C and POSIX locales map to ICU's en_US_POSIX, whose order puts every capital first;
        // they say nothing about the user's language, so the root order serves them.
        icu::Locale locale = icu::Locale::getDefault();
        if (std::string_view(locale.getName()) == "en_US_POSIX") locale = icu::Locale::getRoot();
        UErrorCode status = U_ZERO_ERROR;
        collator_.reset(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status)) collator_.reset();
        if (collator_) collator_->setStrength(icu::Collator::SECONDARY);
    }

    // Negative, zero or positive, as the first name sorts before, with or after the second.
    int compare(const std::string& a, const std::string& b) const {
        if (!collator_) return a.compare(b);
        UErrorCode status = U_ZERO_ERROR;
        auto result = collator_->compareUTF8(a, b, status);
        return U_FAILURE(status) ? a.compare(b) : static_cast<int>(result);
    }

private:
    std::unique_ptr<icu::Collator> collator_;
};

}  // namespace

std::vector<InstalledApp> InstalledAppScanner::scan() const {
    return arrange(source_ ? source_->entries() : std::vector<InstalledApp>{});
}

std::vector<InstalledApp> InstalledAppScanner::arrange(std::vector<InstalledApp> entries) {
    std::set<std::string> seen;
    std::vector<InstalledApp> apps;
    for (auto& entry : entries)
        if (!entry.bundleID.empty() && seen.insert(entry.bundleID).second) apps.push_back(std::move(entry));

    const NameOrder order;
    std::stable_sort(apps.begin(), apps.end(), [&order](const InstalledApp& a, const InstalledApp& b) {
        int byName = order.compare(a.name, b.name);
        return byName != 0 ? byName < 0 : a.bundleID < b.bundleID;
    });
    return apps;
}

}  // namespace kx
