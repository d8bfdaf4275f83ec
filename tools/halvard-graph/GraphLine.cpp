#include "tools/halvard-graph/GraphLine.h"

#include <map>

namespace halvard::graphtool {
namespace {

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// "t." or "t.Pin name": a reference. A word with "=" is a property; a class identifier
// starts with "{"; device names with dots are not references when the part before the
// dot is not a plain name.
bool SplitReference(const std::string& word, std::string* name, std::string* pin) {
  const std::size_t dot = word.find('.');
  if (dot == std::string::npos || dot == 0 || word.find('=') != std::string::npos ||
      word.find(' ') != std::string::npos) {
    return false;
  }
  for (std::size_t i = 0; i < dot; ++i) {
    if (!IsNameChar(word[i])) {
      return false;
    }
  }
  *name = word.substr(0, dot);
  *pin = word.substr(dot + 1);
  return true;
}

bool IsProperty(const std::string& word, std::string* key, std::string* value) {
  const std::size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) {
    return false;
  }
  for (std::size_t i = 0; i < eq; ++i) {
    if (!IsNameChar(word[i])) {
      return false;
    }
  }
  *key = word.substr(0, eq);
  *value = word.substr(eq + 1);
  return true;
}

}  // namespace

bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error) {
  words->clear();
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : line) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word.push_back(c);
      }
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) {
        words->push_back(word);
        word.clear();
        inWord = false;
      }
    } else if (c == '!') {
      if (inWord) {
        words->push_back(word);
        word.clear();
        inWord = false;
      }
      words->push_back("!");
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (quote != 0) {
    *error = "line: unclosed quote";
    return false;
  }
  if (inWord) {
    words->push_back(word);
  }
  return true;
}

bool ParseGraphLine(const std::vector<std::string>& words, GraphSpec* spec, std::string* error) {
  *spec = GraphSpec{};
  if (words.empty()) {
    *error = "line: no filters";
    return false;
  }
  // A node of the line before names are resolved: a filter index or a reference.
  struct Node {
    bool isReference = false;
    std::size_t filter = 0;
    std::string refName;
    std::string refPin;
  };
  struct PendingLink {
    Node from;
    Node to;
  };
  std::vector<PendingLink> pending;
  bool haveNode = false;  // a node exists that a "!" may follow
  bool linkOpen = false;  // the last word was "!"
  Node last;
  bool lastIsFilter = false;  // properties may follow

  for (const std::string& word : words) {
    if (word == "!") {
      if (!haveNode || linkOpen) {
        *error = haveNode ? "line: \"!\" twice in a row" : "line: \"!\" before the first filter";
        return false;
      }
      linkOpen = true;
      lastIsFilter = false;
      continue;
    }
    std::string key;
    std::string value;
    if (!linkOpen && lastIsFilter && IsProperty(word, &key, &value)) {
      FilterSpec& f = spec->filters[last.filter];
      if (key == "name") {
        f.name = value;
      } else {
        f.properties.emplace_back(key, value);
      }
      continue;
    }
    if (IsProperty(word, &key, &value)) {
      *error = "line: property \"" + word + "\" does not follow a filter";
      return false;
    }
    Node node;
    std::string refName;
    std::string refPin;
    if (SplitReference(word, &refName, &refPin)) {
      node.isReference = true;
      node.refName = refName;
      node.refPin = refPin;
      lastIsFilter = false;
    } else {
      node.filter = spec->filters.size();
      spec->filters.push_back(FilterSpec{word, {}, {}});
      lastIsFilter = true;
    }
    if (linkOpen) {
      pending.push_back({last, node});
    }
    last = node;
    haveNode = true;
    linkOpen = false;
  }
  if (linkOpen) {
    *error = "line: \"!\" at the end";
    return false;
  }

  std::map<std::string, std::size_t> byName;
  for (std::size_t i = 0; i < spec->filters.size(); ++i) {
    const std::string& n = spec->filters[i].name;
    if (n.empty()) {
      continue;
    }
    if (!byName.emplace(n, i).second) {
      *error = "line: two filters are named \"" + n + "\"";
      return false;
    }
  }
  const auto resolve = [&](const Node& node, std::size_t* index, std::string* pin) {
    if (!node.isReference) {
      *index = node.filter;
      return true;
    }
    const auto it = byName.find(node.refName);
    if (it == byName.end()) {
      *error = "line: no filter is named \"" + node.refName + "\"";
      return false;
    }
    *index = it->second;
    *pin = node.refPin;
    return true;
  };
  for (const PendingLink& p : pending) {
    LinkSpec link;
    if (!resolve(p.from, &link.from, &link.fromPin) || !resolve(p.to, &link.to, &link.toPin)) {
      return false;
    }
    if (link.from == link.to) {
      *error = "line: a filter cannot be linked to itself";
      return false;
    }
    spec->links.push_back(link);
  }
  return true;
}

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) {
      line += ' ';
    }
    const bool needsQuotes = a.find_first_of(" \t") != std::string::npos;
    if (!needsQuotes) {
      line += a;
      continue;
    }
    const char quote = a.find('"') == std::string::npos ? '"' : '\'';
    // Quote only the value of a property so that its key stays recognisable.
    const std::size_t eq = a.find('=');
    if (eq != std::string::npos && a.find_first_of(" \t") > eq) {
      line += a.substr(0, eq + 1) + quote + a.substr(eq + 1) + quote;
    } else {
      line += quote + a + quote;
    }
  }
  return line;
}

}  // namespace halvard::graphtool
