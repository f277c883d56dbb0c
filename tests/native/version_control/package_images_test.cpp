// The embedded images: exact lengths, the placeholder maker header, and
// the digest check that keeps a damaged image from being flashed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/sha256.h"
#include "version_control/packages.h"

namespace {

struct Image {
  const char *name;
  const unsigned char *bytes;
  uint32_t length;
  const unsigned char *recorded;
  uint32_t expectedLength;
  const char *version;  // what the placeholder header names
};

std::vector<Image> Images() {
  return {
      {"full package", PackageCatalogue[0].image, PackageCatalogue[0].imageLength, PackageCatalogue[0].sha256,
       10212846u, "R1D06"},
      {"optional image", OptionalAssignmentImage.image, OptionalAssignmentImage.imageLength,
       OptionalAssignmentImage.sha256, 13994u, "OPTIONAL"},
  };
}

TEST(PackageImages, HaveTheirLengthsAndTheirRecordedDigests) {
  for (const Image &image : Images()) {
    EXPECT_EQ(image.length, image.expectedLength) << image.name;
    unsigned char digest[SHA256_DIGEST_SIZE];
    Sha256Digest(image.bytes, image.length, digest);
    EXPECT_EQ(std::memcmp(digest, image.recorded, sizeof digest), 0) << image.name;
  }
  EXPECT_TRUE(PackageIsIntact(&PackageCatalogue[0]));
  EXPECT_TRUE(OptionalImageIsIntact());
}

#ifdef QUILLON_PLACEHOLDER_IMAGES
uint32_t BigEndian(const unsigned char *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

// The layout the emulated module checks, like a real one checks the
// maker's signature: see data/README.md.
TEST(PackageImages, PlaceholdersCarryTheMakerHeader) {
  for (const Image &image : Images()) {
    const unsigned char *h = image.bytes;
    EXPECT_EQ(std::string((const char *)h, 8), std::string("QLNPKG\0\1", 8)) << image.name;
    EXPECT_EQ(BigEndian(h + 8), 1u) << image.name;
    EXPECT_EQ(BigEndian(h + 12), image.length) << image.name;
    char version[17] = {};
    std::memcpy(version, h + 16, 16);
    EXPECT_STREQ(version, image.version) << image.name;
    for (size_t i = std::strlen(image.version); i < 16; i++) EXPECT_EQ(h[16 + i], 0) << image.name << " pad " << i;
    unsigned char body[SHA256_DIGEST_SIZE];
    Sha256Digest(h + 64, image.length - 64, body);
    EXPECT_EQ(std::memcmp(body, h + 32, sizeof body), 0) << image.name << ": body digest";
  }
}

// The body is SHA-256 in counter mode over the image's name, so every
// build on every machine embeds the same bytes.
TEST(PackageImages, PlaceholderBodiesAreTheDocumentedStream) {
  const struct {
    const Image image;
    const char *seed;
  } rows[] = {{Images()[0], "Quillon placeholder full_package"}, {Images()[1], "Quillon placeholder optional_image"}};
  for (const auto &row : rows) {
    const uint32_t bodyLength = row.image.length - 64;
    for (uint64_t counter : {(uint64_t)0, (uint64_t)1, (uint64_t)(bodyLength / 32)}) {
      std::string block = row.seed;
      for (int i = 7; i >= 0; i--) block += (char)(counter >> (8 * i));
      unsigned char expected[SHA256_DIGEST_SIZE];
      Sha256Digest(block.data(), block.size(), expected);
      size_t at = (size_t)counter * 32;
      size_t take = std::min<size_t>(32, bodyLength - at);
      EXPECT_EQ(std::memcmp(row.image.bytes + 64 + at, expected, take), 0) << row.image.name << " block " << counter;
    }
  }
}
#endif

// A copy of the optional image under a fixture entry that keeps the
// recorded digest: any change to the bytes must be caught.
TEST(PackageIsIntact, RefusesAChangedImage) {
  const Image optional = Images()[1];
  std::vector<unsigned char> copy(optional.bytes, optional.bytes + optional.length);
  PackageEntry entry = {"", "R1D06", copy.data(), (uint32_t)copy.size(), optional.recorded};
  ASSERT_TRUE(PackageIsIntact(&entry));

  for (size_t at : {(size_t)0, (size_t)63, (size_t)64, copy.size() / 2, copy.size() - 1}) {
    copy[at] ^= 0x01;
    EXPECT_FALSE(PackageIsIntact(&entry)) << "bit flipped at " << at;
    copy[at] ^= 0x01;
  }
  entry.imageLength = (uint32_t)copy.size() - 1;
  EXPECT_FALSE(PackageIsIntact(&entry)) << "a short image";

  entry.imageLength = (uint32_t)copy.size();
  entry.sha256 = nullptr;
  EXPECT_FALSE(PackageIsIntact(&entry)) << "nothing recorded to check against";
  EXPECT_FALSE(PackageIsIntact(nullptr));
}

TEST(ImageIsIntact, ChecksAgainstTheGivenDigest) {
  unsigned char empty[SHA256_DIGEST_SIZE];
  Sha256Digest(nullptr, 0, empty);
  EXPECT_TRUE(ImageIsIntact(nullptr, 0, empty));
  EXPECT_FALSE(ImageIsIntact(nullptr, 5, empty)) << "absent bytes with a length";
}

}  // namespace
