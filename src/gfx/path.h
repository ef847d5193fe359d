// File names of the data set as the program spells them ("data\scanlines.png"), opened on a system
// whose separator is '/' and whose file names are case-sensitive: the backslashes become '/', and
// when that exact name does not exist a unique case-insensitive match of each component is used
// (data folders made on another system differ in case). Names shown to the user keep their spelling.
#pragma once
#include <cstddef>
#include <cstdio>

// Writes the name to open into out; returns 0 when a file or folder of that name exists, 1 otherwise
// (out then holds the name with '/' separators, so a caller's open fails as it would for any
// missing file). Relative names are taken from the working directory.
int path_resolve(const char* name, char* out, size_t out_size);

// fopen of the resolved name; null when it does not exist or cannot be opened.
FILE* path_fopen(const char* name, const char* mode);

// Finds an executable of that name on PATH; 0 when found (its full name in out), 1 otherwise.
int path_find_program(const char* name, char* out, size_t out_size);
