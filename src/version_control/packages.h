// Version control's embedded packages: the catalogue of images this
// program carries, the one to send next, and their integrity before sending.
#pragma once
#include <cstdint>

#include "common/sha256.h"

struct PackageEntry {
  const char *fromVersion;  // "" for a full package, which applies to any version
  const char *toVersion;
  const unsigned char *image;
  uint32_t imageLength;
  const unsigned char *sha256;  // the image's digest, taken when it was built in
};

struct EmbeddedImage {
  const unsigned char *image;
  uint32_t imageLength;
  const unsigned char *sha256;
};

enum { PACKAGE_CATALOGUE_COUNT = 1 };

extern const PackageEntry PackageCatalogue[PACKAGE_CATALOGUE_COUNT];
extern const EmbeddedImage OptionalAssignmentImage;

int PackageCatalogueCount();

// Call before the first byte of an embedded image goes to the module: a
// damaged image must fail like a transfer, with nothing sent. Returns 1
// when the bytes still have the digest recorded at build time.
int PackageIsIntact(const PackageEntry *entry);
int OptionalImageIsIntact();
int ImageIsIntact(const unsigned char *image, uint32_t length,
                  const unsigned char expected[SHA256_DIGEST_SIZE]);

// The catalogue index to send to a module running `currentVersion`, or -1.
int FindPackage(const char *currentVersion);
int FindPackageIn(const PackageEntry *catalogue, int count, const char *currentVersion);

// One step of the walk over the catalogue: the run takes it after every
// package, with the version the module came back with; the inventory
// takes it with each delta's target to foresee the chain.
enum PackageStep : int {
  PACKAGE_STEP_NEXT = 0,     // *index is the package to send next
  PACKAGE_STEP_NO_PATH = 1,  // nothing fits the version the walk began at
  PACKAGE_STEP_END = 2,      // nothing fits any more, or only a package behind the last one
  PACKAGE_STEP_REPEAT = 3,   // the last package fits again: it did not take
};

// `lastIndex` is the package sent before, -1 at the start. *index gets
// the package found (-1 for none), whatever the step.
PackageStep PackageWalkStep(const PackageEntry *catalogue, int count, const char *version, int lastIndex,
                            int *index);
// A delta leads on to the package for its own target; a full package
// ends the walk.
int PackageIsDelta(const PackageEntry *entry);

// What this run installs: the package file when one was named, else the
// first catalogue entry's version.
const char *TargetVersionText(const char *updateFilePath);
