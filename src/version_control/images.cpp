// The embedded packages: the image files the build chose are assembled
// into read-only data as they stand, and sent from there without a copy.
#include "version_control/version_control.h"

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
