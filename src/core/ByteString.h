#pragma once
// A byte string is a counted run of 8-bit bytes that may hold zero bytes: packets, payloads,
// buffers and log texts (code page 1250) are all kept in std::string.
#include <string>
#include <string_view>

using ByteString = std::string;
using ByteView = std::string_view;
