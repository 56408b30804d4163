#include "tools/nearest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace korvex::cli {
namespace {

std::vector<std::string> Suggest(const std::string& word, const std::vector<std::string>& known) {
    Nearest nearest(word);
    for (const std::string& name : known) nearest.Offer(name);
    return nearest.Best();
}

TEST(NearestTest, Suggestions) {
    const std::vector<std::string> verbs = {"check", "default", "get",   "getraw", "help",
                                            "inch",  "input",   "list",  "setraw", "show",
                                            "sim",   "struct",  "tree",  "units"};
    const std::vector<std::string> names = {"XParkPos", "YParkPos", "XParkPosMax", "TDiaD", "TDiaR"};
    struct Case {
        std::string word;
        const std::vector<std::string>& known;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"sett", verbs, {"setraw"}},             // a near prefix
        {"gte", verbs, {"get"}},                 // two neighbours swapped
        {"SHWO", verbs, {"show"}},               // any case, swapped
        {"lsit", verbs, {"list"}},
        {"frobnicate", verbs, {}},               // nothing near
        {"x", verbs, {}},                        // a short word is near nothing long
        {"xparkposs", names, {"XParkPos"}},      // one too many, any case
        {"XParkPo", names, {"XParkPos", "XParkPosMax"}},
        {"TDia", names, {"TDiaD", "TDiaR"}},
        {"ZParkPos", names, {"XParkPos", "YParkPos"}},
        {"", names, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Suggest(c.word, c.known), c.expected) << c.word;
    Nearest nearest("sett");
    for (const std::string& verb : verbs) nearest.Offer(verb);
    EXPECT_EQ(nearest.Hint(), " (did you mean 'setraw'?)");
    EXPECT_EQ(Nearest("zzzz").Hint(), "");
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
