// Text helpers: ISO 8859-1 / UTF-8, in-place edits, case-insensitive search.
#pragma once

#include <cstdint>

int isUTF8Char(const char *p);
void GetStringEncoding(const char *string, int *hasSingleByte, int *hasUTF8);
uint16_t CharToUTF8(const char *p);
// Writes at most destinationSize bytes (always terminated when destinationSize > 0);
// a conversion that does not fit is cut at a character boundary.
void StrToUTF8(const char *source, char *destination, uint32_t destinationSize);
// bufferSize: bytes available at string; text that would not fit is not inserted.
void InsertAt(char *string, int position, const char *text, uint32_t bufferSize);
void DeleteAt(char *string, int position, int count);
char *stricstr(const char *string, const char *searched);
