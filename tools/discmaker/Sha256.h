// SHA-256 (FIPS 180-4), streaming.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Sha256 {
public:
    Sha256();
    void Update(const void* data, std::size_t size);
    // The digest of everything given so far; the object must be reset before it is used again.
    std::array<std::uint8_t, 32> Finish();
    void Reset();

    static std::string ToHex(const std::array<std::uint8_t, 32>& digest);
    static std::string HexOf(const void* data, std::size_t size);

private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_{};
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
};
