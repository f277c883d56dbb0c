// Choosing a package from the catalogue, and checking an image before it
// is sent.
#include <cstring>

#include "version_control/version_control.h"

int PackageCatalogueCount() { return PACKAGE_CATALOGUE_COUNT; }

int FindPackageIn(const PackageEntry *catalogue, int count, const char *currentVersion) {
  if (catalogue == nullptr || count <= 0) return -1;
  // A full package fits whatever the module runs, even nothing at all.
  if (catalogue[0].fromVersion == nullptr || catalogue[0].fromVersion[0] == '\0') return 0;
  if (currentVersion == nullptr) return -1;
  for (int i = 0; i < count; i++) {
    const char *from = catalogue[i].fromVersion;
    if (from != nullptr && std::strcmp(from, currentVersion) == 0) return i;
  }
  return -1;
}

int FindPackage(const char *currentVersion) {
  return FindPackageIn(PackageCatalogue, PACKAGE_CATALOGUE_COUNT, currentVersion);
}

const char *TargetVersionText(const char *updateFilePath) {
  return updateFilePath != nullptr ? updateFilePath : PackageCatalogue[0].toVersion;
}

int ImageIsIntact(const unsigned char *image, uint32_t length,
                  const unsigned char expected[SHA256_DIGEST_SIZE]) {
  if (expected == nullptr || (image == nullptr && length > 0)) return 0;
  unsigned char digest[SHA256_DIGEST_SIZE];
  Sha256Digest(image, length, digest);
  return std::memcmp(digest, expected, SHA256_DIGEST_SIZE) == 0;
}

int PackageIsIntact(const PackageEntry *entry) {
  if (entry == nullptr) return 0;
  return ImageIsIntact(entry->image, entry->imageLength, entry->sha256);
}

int OptionalImageIsIntact() {
  return ImageIsIntact(OptionalAssignmentImage.image, OptionalAssignmentImage.imageLength,
                       OptionalAssignmentImage.sha256);
}
