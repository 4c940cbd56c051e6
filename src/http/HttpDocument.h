#pragma once
// What a reply says of a document: its type, its date, and which file a request path names.
#include <ctime>
#include <string>

// Content type by the extension of a file name.
std::string ContentTypeOf(const std::string& fileName);
// "Mon, 07 Dec 2026 01:54:11" for a UTC time.
std::string HttpDateText(time_t t);
// The local file a request path names under docDir (defaultDoc for a path ending in '/').
std::string DocumentOf(const std::string& docDir, const std::string& path, const std::string& defaultDoc);
