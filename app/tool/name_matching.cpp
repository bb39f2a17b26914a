#include "app/tool/name_matching.h"

#include <algorithm>
#include <cctype>

namespace bayercam::app {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::string lowered(std::string_view text) {
    std::string result(text);
    std::ranges::transform(result, result.begin(), lower);
    return result;
}

// Levenshtein distance: insertions, deletions and substitutions each count one.
std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return lower(x) == lower(y); });
}

std::vector<std::string> closeMatches(std::string_view name,
                                      std::span<const std::string_view> candidates) {
    const std::string wanted = lowered(name);
    // Short names tolerate one mistake, longer ones about one in three characters.
    const std::size_t tolerance = std::max<std::size_t>(1, wanted.size() / 3);
    std::vector<std::pair<std::size_t, std::string_view>> scored;
    for (std::string_view candidate : candidates) {
        const std::string known = lowered(candidate);
        const std::size_t distance = editDistance(wanted, known);
        const bool contains = wanted.size() >= 3 && (known.find(wanted) != std::string::npos ||
                                                     wanted.find(known) != std::string::npos);
        if (distance <= tolerance || contains) scored.emplace_back(distance, candidate);
    }
    std::ranges::stable_sort(scored, {}, &std::pair<std::size_t, std::string_view>::first);
    std::vector<std::string> result;
    for (const auto& [distance, candidate] : scored) result.emplace_back(candidate);
    return result;
}

std::string joinAlternatives(std::span<const std::string> names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += (i + 1 == names.size()) ? " or " : ", ";
        text += names[i];
    }
    return text;
}

}  // namespace bayercam::app
