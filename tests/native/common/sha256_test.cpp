// SHA-256 against published vectors and against itself fed in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/sha256.h"

namespace {

std::string Hex(const unsigned char digest[SHA256_DIGEST_SIZE]) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < SHA256_DIGEST_SIZE; i++) {
    text += digits[digest[i] >> 4];
    text += digits[digest[i] & 15];
  }
  return text;
}

std::string DigestOf(const std::string &message) {
  unsigned char digest[SHA256_DIGEST_SIZE];
  Sha256Digest(message.data(), message.size(), digest);
  return Hex(digest);
}

struct VectorRow {
  const char *name;
  std::string message;
  const char *digest;
};

TEST(Sha256, MatchesKnownVectors) {
  const VectorRow rows[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448 bits, padding spills into a second block",
       "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"896 bits",
       "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"55 bytes: the length still fits the block", std::string(55, 'a'),
       "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {"56 bytes: the length needs a block of its own", std::string(56, 'a'),
       "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {"64 bytes: one whole block", std::string(64, 'a'),
       "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {"a million bytes", std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const VectorRow &row : rows) EXPECT_EQ(DigestOf(row.message), row.digest) << row.name;
}

TEST(Sha256, PiecesGiveTheSameDigestAsOneCall) {
  std::string message;
  for (int i = 0; i < 300; i++) message += (char)(i * 7 + 3);
  const std::string whole = DigestOf(message);
  // Every first-piece length, with the rest split in uneven pieces, so each
  // way of reaching and crossing a block border is taken.
  for (size_t first = 0; first <= message.size(); first++) {
    Sha256Context context;
    Sha256Init(&context);
    Sha256Update(&context, message.data(), first);
    size_t at = first;
    for (size_t piece = 1; at < message.size(); piece = piece * 3 % 97 + 1) {
      size_t take = std::min(piece, message.size() - at);
      Sha256Update(&context, message.data() + at, take);
      at += take;
    }
    unsigned char digest[SHA256_DIGEST_SIZE];
    Sha256Final(&context, digest);
    EXPECT_EQ(Hex(digest), whole) << "first piece " << first;
  }
}

TEST(Sha256, AnAbsentEmptyInputIsTheEmptyMessage) {
  unsigned char digest[SHA256_DIGEST_SIZE];
  Sha256Digest(nullptr, 0, digest);
  EXPECT_EQ(Hex(digest), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
