// The embedded packages: the image files the build chose are assembled
// into read-only data as they stand, and sent from there without a copy;
// choosing the one to send, and checking an image before it is sent.
#include "version_control/packages.h"

#include <cstring>

#include "package_images.inc"  // written by the build: paths, lengths, digests

#define VC_TEXT(x) #x
#define VC_NUMBER(x) VC_TEXT(x)

// The PE assembler has no section stack; the compiler opens every file in
// .text and goes back there after its own top-level assembly, so that is
// where the block must leave it.
#if defined(_WIN32)
#define VC_READ_ONLY ".section .rdata,\"dr\"\n"
#define VC_READ_ONLY_END ".text\n"
#else
#define VC_READ_ONLY ".pushsection .rodata,\"a\"\n"
#define VC_READ_ONLY_END ".popsection\n"
#endif

// The assembler measures what it took in: an image file that changed
// after the build described it stops the build instead of shipping with
// a length that lies.
#define VC_EMBED(symbol, path, length)                                      \
  ".balign 16\n"                                                            \
  ".globl " symbol "\n" symbol ":\n"                                        \
  ".incbin " path "\n" symbol "End:\n"                                      \
  ".if (" symbol "End - " symbol ") - " VC_NUMBER(length) "\n"              \
  ".error \"" symbol ": image length differs from the recorded one\"\n"     \
  ".endif\n"

__asm__(VC_READ_ONLY
        VC_EMBED("quillonFullPackageImage", QUILLON_FULL_PACKAGE_PATH, QUILLON_FULL_PACKAGE_LENGTH)
        VC_EMBED("quillonOptionalImage", QUILLON_OPTIONAL_IMAGE_PATH, QUILLON_OPTIONAL_IMAGE_LENGTH)
        VC_READ_ONLY_END);

extern "C" const unsigned char quillonFullPackageImage[];
extern "C" const unsigned char quillonOptionalImage[];

static const unsigned char fullPackageDigest[SHA256_DIGEST_SIZE] = QUILLON_FULL_PACKAGE_SHA256;
static const unsigned char optionalImageDigest[SHA256_DIGEST_SIZE] = QUILLON_OPTIONAL_IMAGE_SHA256;

const PackageEntry PackageCatalogue[PACKAGE_CATALOGUE_COUNT] = {
    {"", "R1D06", quillonFullPackageImage, (uint32_t)QUILLON_FULL_PACKAGE_LENGTH, fullPackageDigest},
};

const EmbeddedImage OptionalAssignmentImage = {
    quillonOptionalImage, (uint32_t)QUILLON_OPTIONAL_IMAGE_LENGTH, optionalImageDigest};

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

PackageStep PackageWalkStep(const PackageEntry *catalogue, int count, const char *version, int lastIndex,
                            int *index) {
  int found = FindPackageIn(catalogue, count, version);
  if (index != nullptr) *index = found;
  if (found == -1 && lastIndex == -1) return PACKAGE_STEP_NO_PATH;
  if (found == -1 || found < lastIndex) return PACKAGE_STEP_END;
  if (found == lastIndex) return PACKAGE_STEP_REPEAT;
  return PACKAGE_STEP_NEXT;
}

int PackageIsDelta(const PackageEntry *entry) {
  return entry != nullptr && entry->fromVersion != nullptr && entry->fromVersion[0] != '\0';
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
