// libFuzzer target for the LWO2 reader and the mesh converters: every input is written to a
// scratch file and read with lwo_load, mesh_from_lwo and mesh_from_lwo_split; each must return a
// record or null without crashing, leaking, hanging or touching memory it does not own.
// `--write-seeds DIR` writes valid objects made by the tests' writer and exits.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lwo/lwo.h"
#include "lwo/lwo_mesh.h"
#include "lwo/lwo_writer_support.cpp"  // the tests' LWO2 writer, for the seeds

static char fuzz_lwo_path[80];

// A two-layer file with clips, envelopes and procedural, gradient and unknown blocks: the chunks
// the single-layer helper does not write.
static std::vector<uint8_t> fuzz_lwo_rich_seed() {
    LwoWriter w;
    lwo_writer_form(&w);
    lwo_writer_chunk(&w, "TAGS");
    lwo_writer_string(&w, "skin");
    lwo_writer_end(&w);
    for (int layer = 0; layer < 2; layer++) {
        lwo_writer_chunk(&w, "LAYR");
        lwo_writer_u2(&w, uint16_t(layer)), lwo_writer_u2(&w, 0);
        for (int i = 0; i < 3; i++) lwo_writer_f4(&w, 0);
        lwo_writer_string(&w, "l");
        if (layer) lwo_writer_u2(&w, 0);
        lwo_writer_end(&w);
        lwo_writer_chunk(&w, "PNTS");
        for (int i = 0; i < 5; i++) lwo_writer_f4(&w, float(i & 1)), lwo_writer_f4(&w, float(i >> 1)), lwo_writer_f4(&w, float(i == 4));
        lwo_writer_end(&w);
        lwo_writer_chunk(&w, "BBOX");
        for (int i = 0; i < 6; i++) lwo_writer_f4(&w, 0);
        lwo_writer_end(&w);
        lwo_writer_chunk(&w, "VMAP");
        lwo_writer_id(&w, "TXUV"), lwo_writer_u2(&w, 2), lwo_writer_string(&w, "uv");
        for (uint32_t i = 0; i < 5; i++) lwo_writer_vx(&w, i), lwo_writer_f4(&w, 0.2f * i), lwo_writer_f4(&w, 0.1f * i);
        lwo_writer_end(&w);
        lwo_writer_chunk(&w, "POLS");
        lwo_writer_id(&w, "FACE");
        lwo_writer_u2(&w, 4), lwo_writer_vx(&w, 0), lwo_writer_vx(&w, 1), lwo_writer_vx(&w, 3), lwo_writer_vx(&w, 2);
        lwo_writer_u2(&w, 3), lwo_writer_vx(&w, 1), lwo_writer_vx(&w, 4), lwo_writer_vx(&w, 3);
        lwo_writer_end(&w);
        lwo_writer_chunk(&w, "PTAG");
        lwo_writer_id(&w, "SURF");
        lwo_writer_vx(&w, 0), lwo_writer_u2(&w, 0), lwo_writer_vx(&w, 1), lwo_writer_u2(&w, 0);
        lwo_writer_end(&w);
        lwo_writer_chunk(&w, "PTAG");
        lwo_writer_id(&w, "SMGP");
        lwo_writer_vx(&w, 1), lwo_writer_u2(&w, 0);
        lwo_writer_end(&w);
        lwo_writer_chunk(&w, "VMAD");
        lwo_writer_id(&w, "TXUV"), lwo_writer_u2(&w, 2), lwo_writer_string(&w, "uv");
        lwo_writer_vx(&w, 1), lwo_writer_vx(&w, 0), lwo_writer_f4(&w, 0.9f), lwo_writer_f4(&w, 0.5f);
        lwo_writer_vx(&w, 3), lwo_writer_vx(&w, 1), lwo_writer_f4(&w, 0.7f), lwo_writer_f4(&w, 0.5f);
        lwo_writer_end(&w);
    }
    lwo_writer_chunk(&w, "CLIP");
    lwo_writer_u4(&w, 1);
    lwo_writer_sub(&w, "STIL"), lwo_writer_string(&w, "images/skin.png"), lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "ENVL");
    lwo_writer_vx(&w, 1);
    lwo_writer_sub(&w, "TYPE"), lwo_writer_u1(&w, 0), lwo_writer_u1(&w, 3), lwo_writer_end(&w);
    lwo_writer_sub(&w, "PRE "), lwo_writer_u2(&w, 1), lwo_writer_end(&w);
    lwo_writer_sub(&w, "KEY "), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 1), lwo_writer_end(&w);
    lwo_writer_sub(&w, "SPAN"), lwo_writer_id(&w, "TCB "), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 0), lwo_writer_end(&w);
    lwo_writer_sub(&w, "KEY "), lwo_writer_f4(&w, 1), lwo_writer_f4(&w, 2), lwo_writer_end(&w);
    lwo_writer_sub(&w, "SPAN"), lwo_writer_id(&w, "BEZ2"), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 0), lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_chunk(&w, "SURF");
    lwo_writer_string(&w, "skin"), lwo_writer_string(&w, "");
    lwo_writer_sub(&w, "COLR");
    lwo_writer_f4(&w, 0.8f), lwo_writer_f4(&w, 0.6f), lwo_writer_f4(&w, 0.4f), lwo_writer_vx(&w, 0);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "TRAN"), lwo_writer_f4(&w, 0.25f), lwo_writer_vx(&w, 1), lwo_writer_end(&w);
    lwo_writer_sub(&w, "GLOW"), lwo_writer_u2(&w, 0), lwo_writer_f4(&w, 1), lwo_writer_vx(&w, 0), lwo_writer_f4(&w, 1), lwo_writer_vx(&w, 0), lwo_writer_end(&w);
    lwo_writer_sub(&w, "VCOL"), lwo_writer_f4(&w, 1), lwo_writer_vx(&w, 0), lwo_writer_id(&w, "RGB "), lwo_writer_string(&w, "c"), lwo_writer_end(&w);
    lwo_writer_sub(&w, "BLOK");
    lwo_writer_sub(&w, "PROC"), lwo_writer_string(&w, "\x80");
    lwo_writer_sub(&w, "OPAC"), lwo_writer_u2(&w, 0), lwo_writer_f4(&w, 1), lwo_writer_vx(&w, 0), lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "VALU"), lwo_writer_f4(&w, 1), lwo_writer_f4(&w, 2), lwo_writer_end(&w);
    lwo_writer_sub(&w, "FUNC"), lwo_writer_string(&w, "Dots"), lwo_writer_u4(&w, 7), lwo_writer_end(&w);
    lwo_writer_sub(&w, "TMAP");
    lwo_writer_sub(&w, "FALL"), lwo_writer_u2(&w, 1), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 0), lwo_writer_vx(&w, 0), lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "BLOK");
    lwo_writer_sub(&w, "GRAD"), lwo_writer_string(&w, "\x81"), lwo_writer_end(&w);
    lwo_writer_sub(&w, "FKEY"), lwo_writer_f4(&w, 0), lwo_writer_f4(&w, 1), lwo_writer_end(&w);
    lwo_writer_sub(&w, "IKEY"), lwo_writer_u2(&w, 0), lwo_writer_end(&w);
    lwo_writer_sub(&w, "FNAM"), lwo_writer_string(&w, "f"), lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_sub(&w, "BLOK");
    lwo_writer_sub(&w, "IMAP"), lwo_writer_string(&w, "\x82"), lwo_writer_end(&w);
    lwo_writer_sub(&w, "PROJ"), lwo_writer_u2(&w, 5), lwo_writer_end(&w);
    lwo_writer_sub(&w, "VMAP"), lwo_writer_string(&w, "uv"), lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    lwo_writer_end(&w);
    return w.bytes;
}

static void fuzz_lwo_write_seeds(const char* dir) {
    std::vector<std::vector<uint8_t>> seeds;
    LwoTestObject cube = lwo_test_cube8();
    cube.uv_name = "uv";
    for (int i = 0; i < 8; i++) cube.uvs.push_back(float(i & 1)), cube.uvs.push_back(float(i >> 2));
    cube.surfaces[0].map_name = "uv";
    cube.vmad_name = "uv";
    cube.vmad = {{0, 0, 0.9f, 0.1f}, {0, 2, 0.2f, 0.3f}, {4, 1, 0.5f, 0.5f}};
    seeds.push_back(lwo_writer_object(cube));
    for (int projection = 1; projection <= 4; projection++) {
        LwoTestObject grid = lwo_test_grid(2);
        grid.surfaces[0].projection = projection;
        grid.surfaces[0].axis = 1 + projection % 3;
        grid.surfaces[0].size[0] = 2.0f;
        seeds.push_back(lwo_writer_object(grid));
    }
    seeds.push_back(fuzz_lwo_rich_seed());
    int n = 0;
    for (const std::vector<uint8_t>& bytes : seeds) {
        // Seeds must be valid objects, or the corpus would start the fuzzer off the format.
        Mesh* mesh = mesh_from_lwo_object_split(lwo_load_memory("seed", bytes.data(), bytes.size()));
        if (!mesh) {
            fprintf(stderr, "seed %d does not convert\n", n);
            exit(1);
        }
        mesh_free(mesh);
        LwoWriter w;
        w.bytes = bytes;
        std::string path = std::string(dir) + "/seed-" + std::to_string(n++) + ".lwo";
        if (!lwo_writer_save(&w, path)) exit(1);
    }
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    if (*argc >= 3 && strcmp((*argv)[1], "--write-seeds") == 0) {
        fuzz_lwo_write_seeds((*argv)[2]);
        exit(0);
    }
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    snprintf(fuzz_lwo_path, sizeof fuzz_lwo_path, "%s/quillet-fuzz-lwo-%d.lwo", dir, (int)getpid());
    lwo_report_failures = 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = fopen(fuzz_lwo_path, "wb");
    if (!f) return 0;
    if (size) fwrite(data, 1, size, f);
    fclose(f);
    lwo_free(lwo_load(fuzz_lwo_path));
    mesh_free(mesh_from_lwo(fuzz_lwo_path));
    mesh_free(mesh_from_lwo_split(fuzz_lwo_path));
    return 0;
}
