#include "tools/image_options.h"

#include <cctype>

#include "tools/cp936_text.h"

namespace {

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool ParseDecimal(const std::string& s, uint64_t max, uint64_t* value) {
  if (!AllDigits(s)) return false;
  uint64_t v = 0;
  for (char c : s) {
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > max) return false;
  }
  *value = v;
  return true;
}

std::string Lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

// The options that take a value, as --name VALUE or --name=VALUE.
bool TakesValue(const std::string& name) {
  return name == "--layout" || name == "--sectors" || name == "--cluster" || name == "--fats" ||
         name == "--root-entries" || name == "--label";
}

std::string SetValue(const std::string& name, const std::string& value, bool floppyChoice,
                     ImageOptions* o) {
  if (name == "--layout") {
    std::string v = Lowered(value);
    if (v == "1.44m")
      o->layout = ImageLayout::Floppy144;
    else if (v == "720k" && floppyChoice)
      o->layout = ImageLayout::Floppy720;
    else if (v == "actual")
      o->layout = ImageLayout::Actual;
    else
      return "--layout: '" + value + "' is not one of " +
             (floppyChoice ? "1.44m, 720k, actual" : "1.44m, actual");
  } else if (name == "--sectors") {
    uint64_t n;
    // READ CAPACITY(10) cannot report more.
    if (!ParseDecimal(value, 0xFFFFFFFFull, &n))
      return "--sectors: '" + value + "' is not a number of sectors from 0 to 4294967295";
    o->sectors = n;
  } else if (name == "--cluster") {
    uint64_t bytes;
    int index = -1;
    if (ParseDecimal(value, 65536, &bytes))
      for (int k = 0; k < 8; k++)
        if (bytes == (512ull << k)) index = k;
    if (index < 0)
      return "--cluster: '" + value + "' is not a power of two from 512 to 65536";
    o->clusterIndex = index;
  } else if (name == "--fats") {
    if (value != "1" && value != "2") return "--fats: '" + value + "' is not 1 or 2";
    o->fats = value[0] - '0';
  } else if (name == "--root-entries") {
    // The edit accepts digits only; what the number means is the dialog's to judge.
    if (!AllDigits(value)) return "--root-entries: '" + value + "' is not a number";
    o->rootEntries = value;
  } else if (name == "--label") {
    std::optional<std::string> label = Utf8ToCp936(value);
    if (!label) return "--label: '" + value + "' cannot be written in code page 936";
    if (label->size() > 11)
      return "--label: '" + value + "' takes " + std::to_string(label->size()) +
             " bytes in code page 936, at most 11 fit";
    for (char c : *label)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
        return "--label: control characters cannot be typed into the label";
    o->label = *label;
  }
  return "";
}

bool IsHex(const std::string& s) {
  if (s.empty() || s.size() > 2) return false;
  for (char c : s)
    if (!isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

}  // namespace

ParseResult ParseImageOptions(const std::vector<std::string>& args, bool floppyChoice,
                              ImageOptions* o) {
  ParseResult result;
  auto fail = [&](const std::string& error) {
    result.outcome = ParseOutcome::Error;
    result.error = error;
    return result;
  };
  std::vector<std::string> images;
  bool clusterGiven = false, fatsGiven = false, rootGiven = false;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      images.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      result.outcome = ParseOutcome::Help;
      return result;
    }
    if (arg == "--version") {
      result.outcome = ParseOutcome::Version;
      return result;
    }
    if (arg == "--yes") {
      o->yes = true;
      continue;
    }
    if (arg == "--fill") {
      o->fill = true;
      o->fillValue.reset();
      continue;
    }
    if (arg.compare(0, 7, "--fill=") == 0) {
      std::string hex = arg.substr(7);
      if (!IsHex(hex)) return fail("--fill: '" + hex + "' is not 1 or 2 hex digits");
      o->fill = true;
      o->fillValue = hex;
      continue;
    }
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    if (!TakesValue(name) || arg.compare(0, 2, "--") != 0)
      return fail("unknown option '" + arg + "'");
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else {
      if (i + 1 >= args.size()) return fail(name + " needs a value");
      value = args[++i];
    }
    std::string error = SetValue(name, value, floppyChoice, o);
    if (!error.empty()) return fail(error);
    clusterGiven |= name == "--cluster";
    fatsGiven |= name == "--fats";
    rootGiven |= name == "--root-entries";
  }
  if (images.empty()) return fail("no IMAGE given");
  if (images.size() > 1) return fail("more than one IMAGE given");
  o->image = images[0];
  // The floppy layouts disable these controls; nothing could take the value.
  if (o->layout != ImageLayout::Actual) {
    if (clusterGiven) return fail("--cluster needs --layout actual");
    if (fatsGiven) return fail("--fats needs --layout actual");
    if (rootGiven) return fail("--root-entries needs --layout actual");
    if (o->fillValue) return fail("--fill=HEX needs --layout actual; the floppy layouts fill with F6");
  }
  return result;
}

std::string ImageToolUsage(const std::string& program, bool floppyChoice) {
  std::string layouts = floppyChoice ? "1.44m|720k|actual" : "1.44m|actual     ";
  std::string s;
  s += "Usage: " + program + " [OPTIONS] IMAGE\n";
  s += "Formats IMAGE, a disk image file or a block device, as the program formats a\n";
  s += "USB disk: a superfloppy FAT12 or FAT16 volume at sector 0.\n\n";
  s += "  --layout " + layouts + "   default 1.44m\n";
  s += "  --sectors N                  create IMAGE with N sectors of 512 bytes (default 2880\n";
  s += "                               when IMAGE does not exist); an error if IMAGE exists\n";
  s += "  --cluster BYTES              actual layout: 512 to 65536, a power of two (default 512)\n";
  s += "  --fats 1|2                   actual layout (default 2)\n";
  s += "  --root-entries N             actual layout: the text of the root-entries edit\n";
  s += "                               (default 32)\n";
  s += "  --label TEXT                 volume label, UTF-8 here, code page 936 on disk, at most\n";
  s += "                               11 bytes there\n";
  s += "  --fill[=HEX]                 fill the data area: F6 in the floppy layouts, HEX (1 or 2\n";
  s += "                               hex digits, default 0) in the actual layout\n";
  s += "  --yes                        IMAGE may be a block device\n";
  s += "  -h, --help                   this text\n";
  s += "  --version                    the program and its version\n\n";
  s += "Prints the drive list, every status line and every message box, in UTF-8.\n";
  s += "SOURCE_DATE_EPOCH, when set, is the clock (UTC), so labelled images repeat.\n";
  s += "Exit status: 0 formatted, 1 the start was refused or the format failed,\n";
  s += "2 a usage error.\n";
  return s;
}
