// The stand-in soundtrack: synthesised, encoded to MP3 with its gapless header.
#pragma once

// Writes the track as MP3 to mp3_path and, when wav_path is not null, as 16-bit stereo WAV too.
// Returns 0 on success, 1 on failure (with a one-line message).
int soundtrack_write(const char* mp3_path, const char* wav_path);
