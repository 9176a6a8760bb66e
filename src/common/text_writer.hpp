#pragma once

#include <array>
#include <charconv>
#include <concepts>
#include <cstddef>
#include <span>
#include <string_view>

#include "common/decimal.hpp"

namespace vorn {

// Appends text to a fixed buffer. What does not fit is cut at the first byte
// that does not fit and `overflowed` turns true; the bytes that fit remain.
// Log lines rely on the cut, the metrics page and the HTTP head on the flag.
class TextWriter {
public:
    explicit TextWriter(std::span<char> buffer) : buffer_(buffer) {}

    TextWriter& text(std::string_view text) {
        std::size_t room = buffer_.size() - size_;
        std::size_t n = text.size() <= room ? text.size() : room;
        text.copy(buffer_.data() + size_, n);
        size_ += n;
        if (n < text.size()) overflowed_ = true;
        return *this;
    }

    TextWriter& byte(char c) { return text(std::string_view(&c, 1)); }

    template <std::integral Integer>
    TextWriter& number(Integer value) {
        std::array<char, 24> digits{};
        auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
        return text(std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data())));
    }

    TextWriter& decimal(double value) {
        std::array<char, maxDecimalLength> digits{};
        auto formatted = formatDecimal(value, digits);
        return text(formatted ? *formatted : std::string_view("nan"));
    }

    // `value` with exactly `Digits` digits after the point, rounded (0.873,
    // 0.2500).
    template <int Digits>
    TextWriter& fixed(double value) {
        std::array<char, maxDecimalLength + Digits + 1> digits{};
        auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(), value,
                                       std::chars_format::fixed, Digits);
        return text(std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data())));
    }

    [[nodiscard]] std::string_view view() const { return {buffer_.data(), size_}; }
    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] bool overflowed() const { return overflowed_; }
    [[nodiscard]] std::span<char> buffer() const { return buffer_; }

    void clear() {
        size_ = 0;
        overflowed_ = false;
    }

private:
    std::span<char> buffer_;
    std::size_t size_ = 0;
    bool overflowed_ = false;
};

// A TextWriter with its own storage, for buffers that live on the stack.
template <std::size_t Capacity>
class FixedText : public TextWriter {
public:
    FixedText() : TextWriter(storage_) {}
    FixedText(const FixedText&) = delete;
    FixedText& operator=(const FixedText&) = delete;

private:
    std::array<char, Capacity> storage_{};
};

}  // namespace vorn
