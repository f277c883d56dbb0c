"""The module emulator's own tests."""
