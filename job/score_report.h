// What `tavrick score` shows and writes: the table (best method first), every
// figure as JSON, and the worst frame of each method as a picture.
#pragma once

#include <string>
#include <vector>

#include "core/settings.h"
#include "job/score_run.h"

// The methods of the report, best first: highest pooled luma PSNR, then SSIM.
std::vector<const MethodScore*> BestFirst(const ScoreReport& report);

// "34.52", "inf" for no error at all, "n/a" when there is no figure.
std::string DecibelText(double psnr);

// The heading (source, stretch, settings) and one line per method.
std::string ScoreTable(const ScoreReport& report, const ConversionSettings& settings, const KeepPattern& keep,
                       const std::string& sourceName);
// Every figure, per method and per frame; an infinite PSNR is the string "inf".
std::string ScoreJson(const ScoreReport& report, const ConversionSettings& settings, const KeepPattern& keep,
                      const std::string& sourceName);

// The original, the rebuilt frame and their difference times four, side by
// side, as packed RGB rows from the top; `width` receives the picture's width.
std::vector<std::uint8_t> ComparisonPicture(const ScoreReport& report, const MethodScore& method, int& width);

// Writes DIR/score-<method>-frame<N>.png for the worst frame of every method
// (the report must hold the pictures). Returns the paths written; false with
// `error` at the first that fails.
bool WriteWorstPictures(const ScoreReport& report, const std::string& dir, std::vector<std::string>& written,
                        std::string& error);
