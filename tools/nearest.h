// The nearest known words to a mistyped one (verbs, handle names, structure
// classes), for "did you mean" hints.
//
// Words are compared without regard to case by the optimal-string-alignment
// distance (insert, delete, replace, swap two neighbours), and a word also
// counts as near a longer candidate it is a near prefix of ("sett" ->
// "setraw"): a technician types the start of a name more often than all of
// it. Only a band around the diagonal is computed, and a candidate is left
// as soon as it cannot come near, so that a look-up over the tens of
// thousands of tree names stays in the milliseconds.
#ifndef KORVEX_TOOLS_NEAREST_H_
#define KORVEX_TOOLS_NEAREST_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::cli {

class Nearest {
public:
    // At most `keep` suggestions are kept.
    explicit Nearest(std::string_view word, std::size_t keep = 3) : mKeep(keep) {
        // No name is longer: a longer word is near nothing anyway.
        mWord.assign(word.substr(0, kMaxWord));
        for (char& c : mWord) c = Fold(c);
        const std::size_t n = mWord.size();
        mBound = n <= 3 ? 1 : n <= 6 ? 2 : 3;
    }

    // Offers one candidate.
    void Offer(std::string_view candidate) {
        const std::size_t n = mWord.size();
        if (n == 0 || candidate.empty()) return;
        // Past the bound nothing can be kept; a full list lowers it.
        const std::size_t bound = Limit();
        // Too short to be near as a whole, and shorter than any prefix counted.
        if (candidate.size() + bound < n) return;
        const std::size_t far = bound + 1;
        // Columns past n + bound only matter as prefixes, which are too far.
        const std::size_t m = std::min(candidate.size(), n + bound);
        // Rows: the word's characters; columns: the candidate's. Only the band
        // |i - j| <= bound is computed; the cells just outside it read as far
        // (a distance is at least |i - j|), and every value is capped at far.
        std::array<std::array<std::uint8_t, kMaxColumns>, 3> rows;
        auto cell = [&rows](std::size_t i, std::size_t j) -> std::uint8_t& {
            return rows[i % 3][j];
        };
        const auto cap = [far](std::size_t value) {
            return static_cast<std::uint8_t>(std::min(value, far));
        };
        for (std::size_t j = 0; j <= m; ++j) cell(0, j) = cap(j);
        std::size_t lastRowMin = 0;
        for (std::size_t i = 1; i <= n; ++i) {
            const std::size_t from = i > bound ? i - bound : 1;
            const std::size_t to = std::min(m, i + bound);
            cell(i, 0) = cap(i);
            if (from > 1) cell(i, from - 1) = cap(far);
            std::size_t rowMin = cell(i, 0);
            for (std::size_t j = from; j <= to; ++j) {
                const char c = Fold(candidate[j - 1]);
                std::size_t best = cell(i - 1, j - 1) + (mWord[i - 1] == c ? 0u : 1u);
                best = std::min<std::size_t>(best, cell(i - 1, j) + 1u);
                best = std::min<std::size_t>(best, cell(i, j - 1) + 1u);
                if (i > 1 && j > 1 && mWord[i - 1] == Fold(candidate[j - 2]) && mWord[i - 2] == c)
                    best = std::min<std::size_t>(best, cell(i - 2, j - 2) + 1u);
                cell(i, j) = cap(best);
                rowMin = std::min<std::size_t>(rowMin, cell(i, j));
            }
            if (to < m) cell(i, to + 1) = cap(far);
            // Two rows all far: no later row comes nearer (a swap reaches back two).
            if (rowMin >= far && lastRowMin >= far) return;
            lastRowMin = rowMin;
        }
        // The whole candidate, and the best of its prefixes.
        const std::size_t size = candidate.size();
        const std::size_t whole = size + bound >= n && size <= n + bound ? cell(n, size) : far;
        // A prefix must be at least as long as the word and a step nearer than a
        // whole name, or every short word would be near everything.
        std::size_t prefix = far;
        for (std::size_t j = n; j <= m; ++j)
            prefix = std::min<std::size_t>(prefix, cell(n, j));
        const std::size_t distance = std::min(whole, prefix < mBound ? prefix : far);
        if (distance > bound) return;
        // A name near as a whole ranks before one as near only by its start;
        // among equals, the one nearer as a whole, then the shorter.
        Hit hit{2 * distance + (whole > distance ? 1 : 0), whole, std::string(candidate)};
        if (std::find(mHits.begin(), mHits.end(), hit) != mHits.end()) return;
        mHits.insert(std::upper_bound(mHits.begin(), mHits.end(), hit), std::move(hit));
        if (mHits.size() > mKeep) mHits.pop_back();
    }

    // The kept candidates, nearest first; only those as near as the nearest
    // one (a distant runner-up would only confuse).
    std::vector<std::string> Best() const {
        std::vector<std::string> out;
        for (const Hit& hit : mHits)
            if (hit.rank == mHits.front().rank) out.push_back(hit.name);
        return out;
    }

    // " (did you mean 'a', 'b' or 'c'?)", or "" when nothing is near.
    std::string Hint() const {
        const std::vector<std::string> best = Best();
        if (best.empty()) return "";
        std::string text = " (did you mean ";
        for (std::size_t i = 0; i < best.size(); ++i) {
            if (i > 0) text += i + 1 == best.size() ? " or " : ", ";
            text += "'" + best[i] + "'";
        }
        return text + "?)";
    }

private:
    static constexpr std::size_t kMaxWord = 256;  // longer than any handle name
    static constexpr std::size_t kMaxColumns = kMaxWord + 8;

    struct Hit {
        std::size_t rank;  // twice the distance, one more when only a prefix is near
        std::size_t whole;
        std::string name;
        bool operator<(const Hit& other) const {
            if (rank != other.rank) return rank < other.rank;
            if (whole != other.whole) return whole < other.whole;
            if (name.size() != other.name.size()) return name.size() < other.name.size();
            return name < other.name;
        }
        bool operator==(const Hit& other) const { return name == other.name; }
    };

    static char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

    // The largest distance still worth computing.
    std::size_t Limit() const {
        if (mHits.size() < mKeep) return mBound;
        return std::min(mBound, mHits.back().rank / 2);
    }

    std::string mWord;
    std::size_t mKeep;
    std::size_t mBound = 1;
    std::vector<Hit> mHits;
};

}  // namespace korvex::cli

#endif  // KORVEX_TOOLS_NEAREST_H_
