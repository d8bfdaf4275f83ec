#pragma once
/// The one-line graph description of halvard-graph, parsed into filters and links.
///
///   line     := chain { chain }
///   chain    := node { "!" node }
///   node     := filter | reference
///   filter   := factory { key "=" value }        (the key "name" names the filter)
///   reference:= name "." [pin]                     (a filter named earlier, or later)
///
/// A chain that starts with a reference continues from that filter ("t. ! renderer"
/// takes the next free output of t); a reference after "!" links into that filter.
/// A pin after the dot picks the pin by its name ("t.Preview"). Words are separated by
/// blanks; double or single quotes keep blanks inside a word ("BT878 Capture 0",
/// a word with a blank is never a reference, so pin names cannot hold blanks;
/// location='my file.yuv'); "!" is a word of its own.

#include <string>
#include <utility>
#include <vector>

namespace halvard::graphtool {

struct FilterSpec {
  std::string factory;  ///< alias, class identifier or device name, as written
  std::string name;     ///< from name=..., else empty (the tool makes one)
  std::vector<std::pair<std::string, std::string>> properties;  ///< in order, without name
};

struct LinkSpec {
  std::size_t from = 0;  ///< index into filters
  std::string fromPin;   ///< empty: the first unconnected output pin
  std::size_t to = 0;
  std::string toPin;     ///< empty: the first unconnected input pin
};

struct GraphSpec {
  std::vector<FilterSpec> filters;
  std::vector<LinkSpec> links;
};

/// Splits a line into words (quotes removed). false with an error text on an unclosed
/// quote.
[[nodiscard]] bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error);

/// Parses the words. false with an error text ("line: ...") on a syntax error: an
/// empty line, a "!" at the start or the end or twice in a row, a property before any
/// filter, a reference to a name that no filter has, two filters with one name.
[[nodiscard]] bool ParseGraphLine(const std::vector<std::string>& words, GraphSpec* spec, std::string* error);

/// Joins program arguments into one line, quoting words that hold blanks (so that
/// `halvard-graph capture "device=BT878 Capture 0" ! count` parses as written).
[[nodiscard]] std::string JoinArguments(const std::vector<std::string>& args);

}  // namespace halvard::graphtool
