// Filters that let a reading pass skip, in bulk, the lines whose first token cannot be one
// of its keywords. Each is made at compile time from the pass's keyword tables.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "ase/bytes.h"

namespace tessloom {

// The bytes of every keyword in one window, [from, from + width), are its key; the keys are
// few. A token passes when its bytes in the window equal a key, and the bytes after it, up
// to the eighth from `from`, equal those that every keyword with that key has there. (So
// *MESH_VERTCOL fails where *MESH_VERTEX passes, by a byte past the end of *MESH_FACE.)
//
// Each key has a slot of its own in a table of 16, picked by a multiplier found at compile
// time: a token costs one 8-byte load, a multiply and a shift, and one masked compare,
// however many keywords there are. Slots no key took hold a copy of one that did, which no
// token sent there can equal.
class Prefilter {
  public:
    static constexpr std::size_t kMaxKeys = 8;

    // Throws, and so fails to compile, when the window is empty, wider than eight bytes or
    // runs past a keyword's end, when the keywords make no key or more than kMaxKeys, or when
    // no multiplier tried gives every key a slot of its own.
    consteval Prefilter(std::initializer_list<std::span<const std::string_view>> tables,
                        std::size_t from, std::size_t width)
        : from_(from), width_(static_cast<unsigned>(width)) {
        if (width == 0 || width > 8) throw "a key is one to eight bytes";
        Window keys[kMaxKeys] = {};
        std::size_t count = 0;
        for (std::span<const std::string_view> table : tables) {
            for (std::string_view keyword : table) {
                if (keyword.size() < from + width) throw "the window runs past a keyword";
                Window window;
                for (; window.length < 8 && from + window.length < keyword.size(); ++window.length)
                    window.bytes[window.length] = keyword[from + window.length];
                Window* same = nullptr;
                for (std::size_t i = 0; i < count; ++i) {
                    if (keyOf(keys[i].value()) == keyOf(window.value())) same = &keys[i];
                }
                if (same) {
                    // the bytes past the key that all its keywords share
                    std::size_t shared = width;
                    while (shared < std::min(same->length, window.length) &&
                           same->bytes[shared] == window.bytes[shared])
                        ++shared;
                    same->length = shared;
                } else if (count == kMaxKeys) {
                    throw "too many keys for a filter";
                } else {
                    keys[count++] = window;
                }
            }
        }
        if (count == 0) throw "a filter needs keywords";
        // odd multipliers from a fixed sequence until one gives every key a slot of its own
        for (std::uint64_t seed = 1;; ++seed) {
            if (seed > 10'000) throw "no multiplier keeps the keys apart";
            multiplier_ = mix(seed) | 1;
            std::uint32_t taken = 0;
            bool apart = true;
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t bit = std::uint32_t{1} << slotOf(keys[i].value());
                apart = apart && (taken & bit) == 0;
                taken |= bit;
            }
            if (apart) break;
        }
        slots_.fill(Slot{keys[0].value(), keys[0].mask()});
        for (std::size_t i = 0; i < count; ++i) {
            slots_[slotOf(keys[i].value())] = Slot{keys[i].value(), keys[i].mask()};
        }
    }

    // True when the token at t may be one of the keywords; from t, from + 8 bytes are
    // readable (they may run past the token).
    constexpr bool operator()(const char* t) const {
        const std::uint64_t word = scan::loadWord(t + from_);
        const Slot& slot = slots_[slotOf(word)];
        return (word & slot.mask) == slot.value;
    }

  private:
    static constexpr unsigned kSlotBits = 4;

    // Up to eight bytes of a keyword from the window's start, as the word a load gives.
    struct Window {
        char bytes[8] = {};
        std::size_t length = 0;
        constexpr std::uint64_t value() const {
            char kept[8] = {};
            for (std::size_t i = 0; i < length; ++i) kept[i] = bytes[i];
            return scan::loadWord(kept);
        }
        constexpr std::uint64_t mask() const {
            char ones[8] = {};
            for (std::size_t i = 0; i < length; ++i) ones[i] = '\xff';
            return scan::loadWord(ones);
        }
    };

    struct Slot {
        std::uint64_t value = 0;
        std::uint64_t mask = 0;
    };

    // The window's first `width_` bytes, the rest shifted out.
    constexpr std::uint64_t keyOf(std::uint64_t word) const {
        const unsigned rest = 8 * (8 - width_);
        return std::endian::native == std::endian::little ? word << rest : word >> rest;
    }

    constexpr std::size_t slotOf(std::uint64_t word) const {
        return static_cast<std::size_t>((keyOf(word) * multiplier_) >> (64 - kSlotBits));
    }

    // A well-stirred 64-bit value for each seed (the finalizer of a splitmix generator).
    static constexpr std::uint64_t mix(std::uint64_t x) {
        x += 0x9E3779B97F4A7C15u;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
        return x ^ (x >> 31);
    }

    std::size_t from_;
    unsigned width_;
    std::uint64_t multiplier_ = 0;
    std::array<Slot, std::size_t{1} << kSlotBits> slots_{};
};

// True when `filter` passes every keyword of the tables, each as it would start a line's
// first token: followed by a blank, with the filter's look-ahead readable.
template <class Filter>
constexpr bool passesAll(const Filter& filter,
                         std::initializer_list<std::span<const std::string_view>> tables) {
    for (std::span<const std::string_view> table : tables) {
        for (std::string_view keyword : table) {
            char line[48] = {};
            if (keyword.size() > 32) return false;  // longer than any keyword
            for (std::size_t i = 0; i < 48; ++i) line[i] = i < keyword.size() ? keyword[i] : ' ';
            if (!filter(line)) return false;
        }
    }
    return true;
}

}  // namespace tessloom
