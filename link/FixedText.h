#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace morlen {

// A NUL-terminated text of fixed capacity (terminator included). Every assignment is cut to
// the capacity, so a long reply can never overrun a field.
template <std::size_t Capacity>
class FixedText {
    static_assert(Capacity >= 1);

public:
    static constexpr std::size_t capacity = Capacity;
    static constexpr std::size_t maxLength = Capacity - 1;

    FixedText() = default;
    FixedText(std::string_view s) { assign(s); }  // NOLINT: implicit on purpose

    FixedText& operator=(std::string_view s) {
        assign(s);
        return *this;
    }
    FixedText& operator=(const char* s) {
        assign(s ? std::string_view(s) : std::string_view());
        return *this;
    }

    void assign(std::string_view s) {
        // A text stops at its first NUL, as the C string it mirrors.
        const std::size_t nul = s.find('\0');
        if (nul != std::string_view::npos)
            s = s.substr(0, nul);
        const std::size_t n = s.size() < maxLength ? s.size() : maxLength;
        // memmove: the source may be this text itself.
        std::memmove(buf_, s.data(), n);
        buf_[n] = '\0';
    }
    void clear() { buf_[0] = '\0'; }

    const char* c_str() const { return buf_; }
    char* data() { return buf_; }
    std::size_t size() const { return std::strlen(buf_); }
    bool empty() const { return buf_[0] == '\0'; }
    std::string str() const { return std::string(buf_); }
    std::string_view view() const { return std::string_view(buf_); }
    char operator[](std::size_t i) const { return i < Capacity ? buf_[i] : '\0'; }
    operator std::string_view() const { return view(); }  // NOLINT

    bool operator==(std::string_view other) const { return view() == other; }
    // Byte-wise unsigned comparison, as strcmp.
    int compare(std::string_view other) const {
        return std::strcmp(buf_, std::string(other).c_str());
    }

private:
    char buf_[Capacity] = {};
};

}  // namespace morlen
