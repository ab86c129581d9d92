#include "base/NameText.h"

#include <algorithm>
#include <cctype>

namespace {

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

constexpr char kVariantSeparator = '/';

// The first name with as much of its end replaced by tail as tail's start
// repeats ("ATtiny13" + "13A"), or as many characters as tail has.
std::string Variant(const std::string& first, const std::string& tail) {
    for (size_t k = std::min(first.size(), tail.size()); k > 0; --k) {
        if (first.compare(first.size() - k, k, tail, 0, k) == 0) {
            return first.substr(0, first.size() - k) + tail;
        }
    }
    return tail.size() <= first.size() ? first.substr(0, first.size() - tail.size()) + tail : tail;
}

}  // namespace

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (Lower(text[i]) != Lower(prefix[i])) {
            return false;
        }
    }
    return true;
}

std::string LowerCase(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    return lower;
}

std::vector<std::string> PartNameVariants(const std::string& entry) {
    const size_t slash = entry.find(kVariantSeparator);
    const std::string first = entry.substr(0, slash);
    std::vector<std::string> names{first};
    for (size_t start = slash; start != std::string::npos;) {
        const size_t next = entry.find(kVariantSeparator, start + 1);
        const std::string piece = entry.substr(start + 1, next - start - 1);
        if (!piece.empty()) {
            names.push_back(std::isalpha(static_cast<unsigned char>(piece[0])) != 0
                                ? piece
                                : Variant(first, piece));
        }
        start = next;
    }
    return names;
}
