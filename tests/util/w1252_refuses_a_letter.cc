// Compiled by a test that expects the compiler to refuse it: "Ł" has no byte
// in Windows-1252, so the text cannot be converted.
#include "util/w1252.h"

const char* const kName = W1252("Łukasz");
