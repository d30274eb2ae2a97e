// Printing bytes, tags, messages and error lists for the examples.
#ifndef VMSG_EXAMPLES_PRINT_H
#define VMSG_EXAMPLES_PRINT_H

#include <CarrowMessage.h>

#include <cstdio>
#include <string>

namespace demo {

/// The bytes as space-separated hex pairs.
std::string hex(const void* data, std::size_t size);
/// The tag's type name ("u8", "str", ...).
const char* typeName(const VTag& tag);
/// The tag's value as text: numbers in decimal, text quoted, bytes in hex.
std::string value(const VTag& tag);
/// One line per tag of @p msg, indented by @p indent spaces (walks the cursor).
void printMessage(std::FILE* out, VMsg& msg, int indent = 2);
/// The structured view: plain tags, then each object with its members.
void printStructured(std::FILE* out, const CarrowMessage& msg, int indent = 2);
/// True when both messages hold the same tags, byte for byte on the wire
/// (walks both cursors).
bool sameTags(VMsg& a, VMsg& b);
/// Prints every record of @p errors and releases the list and its records.
void printAndFreeErrors(std::FILE* out, VList* errors, int indent = 2);

} // namespace demo

#endif
