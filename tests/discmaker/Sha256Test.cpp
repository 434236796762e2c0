#include "Sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Vector {
    std::string message;
    const char* digest;
};

// FIPS 180-4 examples and the NIST byte-oriented vectors, chosen to cover the padding's edge: 55 bytes
// fit one block with the length, 56 need a second.
TEST(Sha256, KnownVectors) {
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Vector& vector : vectors) {
        EXPECT_EQ(Sha256::HexOf(vector.message.data(), vector.message.size()), vector.digest)
            << vector.message.size() << " bytes";
    }
}

// Data handed over in uneven pieces, across block edges, hashes as one piece does.
TEST(Sha256, PiecesHashLikeTheWhole) {
    std::string message;
    for (int i = 0; i < 1000; ++i) {
        message += static_cast<char>(i * 7 + 3);
    }
    const std::string whole = Sha256::HexOf(message.data(), message.size());
    for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u, 127u}) {
        Sha256 hash;
        for (std::size_t at = 0; at < message.size(); at += piece) {
            hash.Update(message.data() + at, std::min(piece, message.size() - at));
        }
        EXPECT_EQ(Sha256::ToHex(hash.Finish()), whole) << "pieces of " << piece;
    }
}

}  // namespace
