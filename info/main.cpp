// krelt-info: says what each file is, lists its header and checks it for
// what krelt produces, alone or against the image it was made from; a
// build checks its outputs with it. Here: the options, and the run over
// the files, each inspected into a report that one printer prints.
#include "converter/size.h"
#include "info/report.h"
#include "krelt_version.h"
#include "runtime/start.h"
#include "runtime/stream.h"

namespace {

const char USAGE[] =
    "usage: krelt-info [--heap SIZE] [--mmarea SIZE] [--max-memory SIZE] "
    "[--image IMAGE] [--json] [--quiet] [--] FILE...";
const char HELP[] =
    "List the header of each Tamrisk application file or bim image and\n"
    "check it for what krelt produces. FILE - is standard input.\n"
    "\n"
    "  --heap SIZE        a .v: its memory size must be what krelt writes\n"
    "                     for this heap size; a bim image: show that size\n"
    "  --mmarea SIZE      a .v: its mmarea size must be this\n"
    "  --max-memory SIZE  the memory size of a .v, or of a bim image with\n"
    "                     --heap, must be at most this\n"
    "  --image IMAGE      a .v must be this bim image as krelt converts it;\n"
    "                     shows the heap sizes that give its memory size\n"
    "                     and the krelt command that remakes it\n"
    "  --json             one JSON object a line for each file\n"
    "  --quiet            only failed checks, errors and the count of files\n"
    "  --help             this text\n"
    "  --version          the version\n"
    "\n"
    "A SIZE is an optional -, a radix prefix (0x, 0o, 0b, or 0 for octal),\n"
    "digits and an optional K, M or G: 64k, 0x10000, 1m. Exit 0 when every\n"
    "file passes, 1 when a check fails or a file cannot be used, 2 for a\n"
    "usage error.\n";
const char VERSION[] =
    "krelt-info (krelt) " KRELT_VERSION
    "\n"
    "Copyright (C) 2026 The krelt developers\n"
    "License MIT: <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

void err(const char* text) { stream_puts(text, &std_err); }

bool same_text(const char* a, const char* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// The value of an option at argv[*i], as "--name VALUE" or "--name=VALUE";
// null, with *i unchanged, when argv[*i] is not that option. *missing is
// set for the option with nothing after it.
const char* option_value(const char* name, int argc, char** argv, int* i,
                         bool* missing) {
  const char* arg = argv[*i];
  while (*name != 0 && *name == *arg) {
    ++name;
    ++arg;
  }
  if (*name != 0) return nullptr;
  if (*arg == '=') return arg + 1;
  if (*arg != 0) return nullptr;
  if (*i + 1 >= argc) {
    *missing = true;
    return nullptr;
  }
  return argv[++*i];
}

// A usage error: the message on standard error, then the usage line.
int usage_error(const char* message, const char* arg,
                const char* option = nullptr) {
  err("krelt-info: ");
  if (option != nullptr) {
    err(option);
    err(" ");
  }
  err(message);
  if (arg != nullptr) {
    err(" '");
    err(arg);
    err("'");
  }
  err("\n");
  err(USAGE);
  err("\nTry 'krelt-info --help' for more.\n");
  return 2;
}

// The options that take a size, and where each goes.
struct SizeOption {
  const char* name;
  bool Options::*given;
  uint32_t Options::*value;
};
constexpr SizeOption SIZE_OPTIONS[] = {
    {"--heap", &Options::has_heap, &Options::heap},
    {"--mmarea", &Options::has_mmarea, &Options::mmarea},
    {"--max-memory", &Options::has_max_memory, &Options::max_memory},
};

}  // namespace

// Its arguments as the platform gives them: any file name passes.
ArgumentRules app::argument_rules() { return {false, 0}; }

int app::main(int argc, char** argv) {
  // Read by people and scripts (grep 'ok$'), so its lines end as the
  // platform's do; krelt's own messages keep CR LF everywhere.
  std_out.flags |= STREAM_PLATFORM_LINES;
  std_err.flags |= STREAM_PLATFORM_LINES;
  Options o = {};
  const char* image = nullptr;
  bool json = false;
  // The file names are gathered at the front of argv, after argv[0].
  int files = 0;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options_end || arg[0] != '-' || arg[1] == 0) {
      argv[1 + files++] = argv[i];
      continue;
    }
    bool missing = false;
    bool sized = false;
    for (const SizeOption& option : SIZE_OPTIONS) {
      const char* value = option_value(option.name, argc, argv, &i, &missing);
      if (value == nullptr) continue;
      if (!is_size_text(value)) {
        return usage_error("takes a size such as 64k, 0x10000 or 1m, not",
                           value, option.name);
      }
      o.*option.given = true;
      o.*option.value = static_cast<uint32_t>(parse_size(value));
      sized = true;
      break;
    }
    const char* value;
    if (sized) {
      continue;
    } else if (same_text(arg, "--")) {
      options_end = true;
    } else if (same_text(arg, "--help")) {
      put_line(USAGE);
      stream_puts(HELP, &std_out);
      return 0;
    } else if (same_text(arg, "--version")) {
      stream_puts(VERSION, &std_out);
      return 0;
    } else if (same_text(arg, "--json")) {
      json = true;
    } else if (same_text(arg, "--quiet")) {
      o.quiet = true;
    } else if ((value = option_value("--image", argc, argv, &i, &missing)) !=
               nullptr) {
      image = value;
    } else if (missing) {
      return usage_error(same_text(arg, "--image") ? "an image must follow"
                                                   : "a size must follow",
                         arg);
    } else {
      return usage_error("unknown option", arg);
    }
  }
  if (files == 0) return usage_error("no file named", nullptr);
  if (image != nullptr) {
    char why[ERROR_ROOM];
    o.image = read_image(image, why);
    if (o.image == nullptr) {
      err("krelt-info: image '");
      err(image);
      err("': ");
      err(why);
      err("\n");
      return 1;
    }
  }
  o.several = files > 1;
  const Printer& printer = json ? JSON_PRINTER : TEXT_PRINTER;
  uint32_t failed = 0;
  for (int i = 1; i <= files; ++i) {
    Report report;
    inspect(argv[i], o, &report);
    printer.report(report, o, i == 1);
    if (!report_passed(report)) ++failed;
    report_free(&report);
  }
  if (o.several) printer.summary(static_cast<uint32_t>(files), failed, o);
  return failed == 0 ? 0 : 1;
}
