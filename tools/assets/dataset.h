// The whole stand-in data set: every texture and object written under DIR/data.
#pragma once

// Writes DIR/data/ (created when missing) with the 39 textures and nine objects. When
// contact_sheet is not null, also writes that PNG; when preview_dir is not null, writes one preview
// PNG per object there. With verbose set, prints each file's time to stderr. Returns 0, or 1
// after the first failure (with a one-line message).
int dataset_write(const char* dir, const char* contact_sheet, const char* preview_dir, int verbose = 0);

// Creates a folder and its missing parents; 0 when it exists afterwards.
int dataset_make_dir(const char* path);
