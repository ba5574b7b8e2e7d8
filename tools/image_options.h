// The command line of the image tools.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class ImageLayout { Floppy144, Floppy720, Actual };

struct ImageOptions {
  ImageLayout layout = ImageLayout::Floppy144;
  std::optional<uint64_t> sectors;      // create the image with this many sectors
  std::optional<int> clusterIndex;      // item of the cluster-size combo box
  std::optional<int> fats;              // 1 or 2
  std::optional<std::string> rootEntries;
  std::optional<std::string> label;     // code page 936
  bool fill = false;
  std::optional<std::string> fillValue; // 1 or 2 hex digits
  bool yes = false;
  std::string image;
};

enum class ParseOutcome { Run, Help, Version, Error };

struct ParseResult {
  ParseOutcome outcome = ParseOutcome::Run;
  std::string error;  // for Error: what was wrong, without the program name
};

// floppyChoice: the edition offers the 720K layout.
ParseResult ParseImageOptions(const std::vector<std::string>& args, bool floppyChoice,
                              ImageOptions* options);

std::string ImageToolUsage(const std::string& program, bool floppyChoice);
