// SHA-256, so the program can tell an embedded image from a damaged one
// before any of it reaches the module.
#pragma once
#include <cstddef>
#include <cstdint>

enum { SHA256_DIGEST_SIZE = 32, SHA256_BLOCK_SIZE = 64 };

struct Sha256Context {
  uint32_t state[8];
  uint64_t length;  // bytes hashed so far
  unsigned char block[SHA256_BLOCK_SIZE];
  size_t used;      // bytes waiting in block
};

void Sha256Init(Sha256Context *context);
void Sha256Update(Sha256Context *context, const void *data, size_t length);
void Sha256Final(Sha256Context *context, unsigned char digest[SHA256_DIGEST_SIZE]);

// One-shot form of the three above.
void Sha256Digest(const void *data, size_t length, unsigned char digest[SHA256_DIGEST_SIZE]);
