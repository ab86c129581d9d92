// The fuse bytes as a user writes them: "lfuse=0xE2,hfuse=D9" (any of
// lfuse, hfuse, efuse, each once, hex values with or without 0x). The one
// reader of that text: the tool's write-fuses and verify-fuses and the
// recipe's fuses = both take it from here.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "parts/DeviceTable.h"

// Parses text into the bytes it gives and their mask (kLowFuse...); false
// with a one-line reason. With settings, other items of the form
// name=value are collected there (comma list, lower case), for the device's
// own fuse fields to resolve (parts/FuseFields.h); without, they are refused.
bool ParseFuseSet(const std::string& text, std::array<uint8_t, kFuseByteCount>& fuses,
                  uint8_t& mask, std::string& error, std::string* settings = nullptr);
// The same form for the bytes in mask: "lfuse=0xE2,hfuse=0xD9".
std::string FormatFuseSet(const std::array<uint8_t, kFuseByteCount>& fuses, uint8_t mask);
