// Image: the one 32-bit picture record (textures, text bitmaps, off-screen canvases).
//
// One allocation: the header, then width * height pixels (0xAARRGGBB, row-major, top row first),
// then for mip-mapped images levels 1, 2, ... of side min(width, height) >> k. Releasing the record
// releases everything. Masks and shifts are precomputed for the texture fillers.
//
// Loaders return null for a missing, unreadable, corrupt or truncated file, having released
// everything they acquired; they print nothing but the two texture messages ("texture dimensions
// must be POW2 ...", "unable to build mipmaps for ...") on standard output. A picture whose header
// asks for a side above IMAGE_MAX_SIDE or more than IMAGE_MAX_PIXELS pixels is refused before
// anything of its size is allocated (a few bytes must not cost gigabytes), with one line on
// standard error: "texture: PATH: too large (W x H), refused".
#pragma once
#include <cstdint>

enum { IMAGE_MAX_LEVELS = 11, IMAGE_MAX_SIDE = 16384 };
// 64 megapixels: far above any texture of the show, far below what a hostile header can claim.
constexpr uint64_t IMAGE_MAX_PIXELS = uint64_t(64) << 20;

struct Image {
    int width;
    int width_mask;   // (1 << width_shift) - 1
    int width_shift;  // floor_log2(width)
    int height;
    int height_mask;
    int height_shift;
    uint32_t* pixels;
    int level_count;  // 0 = no mip levels, at most IMAGE_MAX_LEVELS
    uint32_t* levels[12];
};
typedef Image Texture;

Image* image_new(int width, int height);             // zeroed, no levels; null on no memory or a negative side
Image* image_new_mipmapped(int width, int height);   // zeroed with level chain; null if not pow2
void image_free(Image* image);                       // null accepted
int image_build_mips(Image* image);                  // 0 ok, 1 not square or no levels
Image* image_load_jpeg(const char* path, uint32_t flags);  // flags != 0: mip-mapped
Image* image_load_png(const char* path, uint32_t flags);   // alpha stored premultiplied
// 1 when a loader may allocate a picture of this size; otherwise prints the "too large" line.
int image_size_allowed(const char* path, uint32_t width, uint32_t height);
extern int image_report_failures;  // 0 silences that line (fuzzing)
// The pixel count image_size_allowed accepts: IMAGE_MAX_PIXELS, lowered only by fuzz targets, where
// every allowed giant costs a sanitizer tens of milliseconds however few bytes claimed it.
extern uint64_t image_pixel_budget;

// PNG writers (8-bit samples). image_write_png_rows writes channels 3 (RGB) or 4 (RGBA, straight
// alpha) from row(y, context), which returns width * channels bytes of row y, top row first.
// image_write_png writes 0xAARRGGBB pixels, rows stride pixels apart, as RGB (alpha dropped).
// Both return 0 on success, 1 when the file cannot be created, encoded or closed; they print nothing.
typedef const uint8_t* (*ImagePngRow)(int y, void* context);
int image_write_png_rows(const char* path, int width, int height, int channels, ImagePngRow row,
                         void* context);
int image_write_png(const char* path, const uint32_t* pixels, int width, int height, int stride);

// Slope map of the blue byte, wrapping at the edges: red holds B(x-1, y) - B(x+1, y), green
// B(x, y-1) - B(x, y+1), each difference d stored as (d + 256) >> 1 (128 = flat); blue 0, alpha 255.
// A new image without levels, or null on no memory.
Image* image_slope_map(const Image* source);

int next_pow2(int value);     // smallest power of two not below value (1 for value <= 1, 0 above 2^30)
int floor_log2(int value);    // 0 for 0 and 1 (and negative values)
int bit_count(uint32_t value);

// The texture list and table. Flags: non-zero loads with mip levels, TEXTURE_SLOPE_MAP replaces the
// loaded image by its slope map.
enum { TEXTURE_LIST_COUNT = 39, TEXTURE_SLOTS = 256, TEXTURE_SLOPE_MAP = 0x100 };

// The slots by name, for texture_get: the rows of the texture list in order, then the generated ramp.
enum {
    TEXTURE_POINTLIGHT, TEXTURE_CIRCLE_PARTICLE, TEXTURE_CUBE_SHADOW, TEXTURE_CORKSCREW_GRAY,
    TEXTURE_WOOD, TEXTURE_PUNKY_BREWSTER, TEXTURE_ENVI_GRAY, TEXTURE_PARTICLE, TEXTURE_INVENV,
    TEXTURE_METAL, TEXTURE_BUMPMAP, TEXTURE_METAL_GLOSS, TEXTURE_SCANLINES, TEXTURE_GRAIN,
    TEXTURE_BUMP_BG, TEXTURE_CUBE_BG, TEXTURE_META_BG, TEXTURE_SHADOWS_BG, TEXTURE_SPRINGS_BG,
    TEXTURE_FILMSTRIP, TEXTURE_DANCING, TEXTURE_SWIM_FOR_YOUR_LIVES, TEXTURE_WERE_COMMING_ASHORE,
    TEXTURE_VELMORIAN, TEXTURE_QUILLET, TEXTURE_TV_1, TEXTURE_TV_2, TEXTURE_TV_3, TEXTURE_BIRD_LEFT,
    TEXTURE_BIRD_RIGHT, TEXTURE_SKEKSIS_LEFT, TEXTURE_SKEKSIS_RIGHT, TEXTURE_RIBBON, TEXTURE_SMOKE,
    TEXTURE_MUSIC_BRASK, TEXTURE_GRAPHICS_TOLVAN, TEXTURE_CODE_MERRIT, TEXTURE_END_CRED_1,
    TEXTURE_END_CRED_2, TEXTURE_RAMP
};
static_assert((int)TEXTURE_RAMP == (int)TEXTURE_LIST_COUNT, "one name per row of the texture list");

struct TextureListRow {
    char name[64];
    uint32_t flags;
};

struct TextureTable {
    Image* textures[TEXTURE_SLOTS];
    int texture_count;
};

extern const TextureListRow texture_list[TEXTURE_LIST_COUNT];
extern TextureTable texture_table;

// ".png" anywhere in the name reads PNG, else ".jpg" reads JPEG, else null.
Image* texture_load_file(const char* name, uint32_t flags);
// Fills slots 0..count-1 from rows, then the generated ramp; on a failed row releases everything.
int textures_load_list(const TextureListRow* rows, int count);
Image* texture_make_ramp(void);  // the 256 x 256 half-sine ramp of slot 39

// The texture table: slots 0..38 the texture list, 39 the generated ramp.
int textures_init(void);      // 0 ok, 1 failure (everything loaded so far is released)
void textures_free(void);
Texture* texture_get(int index);  // null for an empty slot or an index outside 0..255
