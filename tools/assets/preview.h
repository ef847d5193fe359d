// Quick looks at the data set: the contact sheet of every texture and orthographic renders of the
// objects, for checking the art by eye.
#pragma once

#include "assets/canvas.h"
#include "assets/lwo_writer.h"

// Contact sheet: texture thumbnails with their names, in list order.
struct ContactSheet;
ContactSheet* contact_sheet_new(int count);
// Adds the thumbnail of one painted texture (alpha shown over a checkerboard).
void contact_sheet_add(ContactSheet* sheet, int slot, const Canvas* texture, const char* label);
int contact_sheet_write(ContactSheet* sheet, const char* path);  // 0 or 1 with a message
void contact_sheet_free(ContactSheet* sheet);

// Four views (front, side, top, three-quarter) of the object side by side: faces lit by their
// normal, back faces (those whose normal points away from the viewer) in red, texture
// coordinates as a checker pattern. Returns 0 or 1 with a message.
int object_preview_write(const LwoModel* model, const char* path);
