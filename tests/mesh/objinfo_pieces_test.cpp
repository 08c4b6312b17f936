// objinfo's own pieces: SHA-256 against the published test vectors, and JSON text that stays
// valid whatever bytes a broken file puts into a message.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tools/objinfo/json_text.h"
#include "base/files/sha256.h"

TEST(ObjinfoSha256, matches_the_published_test_vectors) {
    EXPECT_EQ(sha256_hex(nullptr, 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::string two_blocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(sha256_hex(two_blocks.data(), two_blocks.size()),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    std::string million(1'000'000, 'a');
    EXPECT_EQ(sha256_hex(million.data(), million.size()),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ObjinfoSha256, pieces_of_any_size_hash_like_the_whole) {
    std::string text;
    for (int i = 0; i < 300; ++i) text += static_cast<char>(i * 7);
    const std::string whole = sha256_hex(text.data(), text.size());
    for (std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 128u}) {
        cSha256 sha;
        for (std::size_t at = 0; at < text.size(); at += piece) sha.update(text.data() + at, std::min(piece, text.size() - at));
        std::string hex;
        for (uint8_t byte : sha.finish()) {
            const char digits[] = "0123456789abcdef";
            hex += digits[byte >> 4];
            hex += digits[byte & 15];
        }
        EXPECT_EQ(hex, whole) << piece;
    }
}

TEST(ObjinfoJson, strings_escape_controls_and_bytes_that_are_not_utf8) {
    EXPECT_EQ(json_quote("plain"), "\"plain\"");
    EXPECT_EQ(json_quote("say \"hi\"\\ \n\t\r"), "\"say \\\"hi\\\"\\\\ \\n\\t\\r\"");
    EXPECT_EQ(json_quote(std::string("a\0b\x01\x7f", 5)), "\"a\\u0000b\\u0001\\u007f\"");
    EXPECT_EQ(json_quote("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
    // Stray continuation bytes, overlong forms, surrogates and cut-off sequences.
    EXPECT_EQ(json_quote("\x80\xc0\xaf\xed\xa0\x80\xe2\x82"), "\"\\u0080\\u00c0\\u00af\\u00ed\\u00a0\\u0080\\u00e2\\u0082\"");
}

TEST(ObjinfoJson, numbers_read_back_exactly_and_non_finite_ones_are_null) {
    EXPECT_EQ(json_number(0.0f), "0");
    EXPECT_EQ(json_number(-1.5f), "-1.5");
    EXPECT_EQ(json_number(0.1f), "0.1");
    EXPECT_EQ(json_number(3.4028235e38f), "3.4028235e+38");
    EXPECT_EQ(json_number(std::numeric_limits<float>::infinity()), "null");
    EXPECT_EQ(json_number(std::numeric_limits<float>::quiet_NaN()), "null");
}
