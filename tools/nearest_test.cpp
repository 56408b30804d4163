#include "tools/nearest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace korvex::cli {
namespace {

Nearest Offered(const std::string& word, const std::vector<std::string>& known) {
    Nearest nearest(word);
    for (const std::string& name : known) nearest.Offer(name);
    return nearest;
}
std::vector<std::string> Suggest(const std::string& word, const std::vector<std::string>& known) {
    return Offered(word, known).Best();
}
std::string Hint(const std::string& word, const std::vector<std::string>& known) {
    return Offered(word, known).Hint();
}

// The ranking: a whole name before a name near only by its start, ties
// shown together, nothing for a word near nothing. (The end-to-end scripts
// cover the tool's own words.)
TEST(NearestTest, Suggestions) {
    const std::vector<std::string> names = {"XParkPos", "YParkPos", "XParkPosMax", "TDiaD", "TDiaR",
                                            "get", "getraw", "setraw"};
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"gte", {"get"}},
        {"sett", {"setraw"}},
        {"xparkposs", {"XParkPos"}},
        {"XParkPo", {"XParkPos", "XParkPosMax"}},
        {"TDia", {"TDiaD", "TDiaR"}},
        {"ZParkPos", {"XParkPos", "YParkPos"}},
        {"q", {}},  // one letter: only names that begin with it
        {"frobnicate", {}},
        {"", {}},
    };
    for (const auto& [word, expected] : cases) EXPECT_EQ(Suggest(word, names), expected) << word;
    EXPECT_EQ(Hint("TDia", names), " (did you mean 'TDiaD' or 'TDiaR'?)");
    EXPECT_EQ(Hint("zzzz", names), "");
}

// The banded, capped computation against the whole matrix: the same
// distance for random words over a small alphabet (so that many are near).
std::size_t FullDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

TEST(NearestTest, AgreesWithTheWholeMatrix) {
    std::mt19937 random(26);
    auto word = [&random](std::size_t length) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += static_cast<char>('a' + random() % 3);
        return text;
    };
    for (int round = 0; round < 3000; ++round) {
        const std::string typed = word(1 + random() % 9);
        const std::string known = word(1 + random() % 12);
        const std::size_t bound = typed.size() <= 3 ? 1 : typed.size() <= 6 ? 2 : 3;
        // The whole name alone decides when no prefix of it comes nearer.
        std::size_t best = FullDistance(typed, known);
        for (std::size_t j = typed.size(); j < known.size(); ++j)
            if (const std::size_t d = FullDistance(typed, known.substr(0, j)); d < bound)
                best = std::min(best, d);
        Nearest nearest(typed, 1);
        nearest.Offer(known);
        EXPECT_EQ(nearest.Best().size(), best <= bound ? 1u : 0u) << typed << " " << known;
    }
}

}  // namespace
}  // namespace korvex::cli
