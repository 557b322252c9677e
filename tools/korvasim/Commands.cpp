#include "Commands.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace korvasim {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

std::string_view NextWord(std::string_view& text) {
  text = Trim(text);
  const size_t end = std::min(text.find_first_of(" \t"), text.size());
  const std::string_view word = text.substr(0, end);
  text.remove_prefix(end);
  text = Trim(text);
  return word;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

constexpr std::string_view kCommandHelp = "use: frame TEXT | silence | quit";
constexpr std::string_view kScriptHelp =
    "use: after N ms send frame TEXT | after N ms silence | after N ms quit";

}  // namespace

Parsed<std::string> DecodeFrame(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      bytes += text[i];
      continue;
    }
    if (++i == text.size())
      return {std::nullopt, "a lone \\ at the end of the frame"};
    switch (text[i]) {
      case 'r':
        bytes += '\r';
        break;
      case 'n':
        bytes += '\n';
        break;
      case 't':
        bytes += '\t';
        break;
      case '\\':
        bytes += '\\';
        break;
      case 'x': {
        const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
        const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0)
          return {std::nullopt, "\\x needs two hexadecimal digits"};
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return {std::nullopt, std::string("unknown escape \\") + text[i]};
    }
  }
  if (bytes.empty())
    return {std::nullopt, "the frame is empty"};
  if (bytes.size() > kMaxFrameBytes)
    return {std::nullopt, "the frame is longer than " + std::to_string(kMaxFrameBytes) + " bytes"};
  return {std::move(bytes), {}};
}

std::string EncodeBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\r')
      text += "\\r";
    else if (c == '\n')
      text += "\\n";
    else if (c == '\t')
      text += "\\t";
    else if (c == '\\')
      text += "\\\\";
    else if (byte < 0x20 || byte >= 0x7F)
      text += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
    else
      text += c;
  }
  return text;
}

Parsed<Action> ParseCommand(std::string_view line) {
  std::string_view rest = line;
  const std::string_view verb = NextWord(rest);
  if (verb.empty() || verb.front() == '#')
    return {};
  if (verb == "silence" || verb == "quit") {
    if (!rest.empty())
      return {std::nullopt, std::string(verb) + " takes nothing after it"};
    return {Action{verb == "quit" ? Action::kQuit : Action::kSilence, {}}, {}};
  }
  if (verb == "frame") {
    Parsed<std::string> frame = DecodeFrame(rest);
    if (!frame.value)
      return {std::nullopt, frame.error};
    return {Action{Action::kFrame, std::move(*frame.value)}, {}};
  }
  return {std::nullopt,
          "unknown command \"" + std::string(verb) + "\" (" + std::string(kCommandHelp) + ")"};
}

Parsed<TimedAction> ParseScriptLine(std::string_view line) {
  std::string_view rest = line;
  const std::string_view first = NextWord(rest);
  if (first.empty() || first.front() == '#')
    return {};
  const std::string_view number = NextWord(rest);
  uint64_t ms = 0;
  const auto [end, problem] = std::from_chars(number.data(), number.data() + number.size(), ms);
  if (first != "after" || number.empty() || problem != std::errc() ||
      end != number.data() + number.size() || NextWord(rest) != "ms")
    return {std::nullopt, std::string(kScriptHelp)};
  if (rest.substr(0, 5) == "send ")
    rest.remove_prefix(5);
  Parsed<Action> action = ParseCommand(rest);
  if (!action.value)
    return {std::nullopt, action.error.empty() ? std::string(kScriptHelp) : action.error};
  return {TimedAction{ms, std::move(*action.value)}, {}};
}

std::vector<TimedAction> ParseScript(std::string_view text, std::vector<std::string>& errors) {
  std::vector<TimedAction> actions;
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t end = std::min(text.find('\n'), text.size());
    Parsed<TimedAction> parsed = ParseScriptLine(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (parsed.value)
      actions.push_back(std::move(*parsed.value));
    else if (!parsed.error.empty())
      errors.push_back("line " + std::to_string(lineNumber) + ": " + parsed.error);
  }
  std::stable_sort(actions.begin(), actions.end(), [](const TimedAction& a, const TimedAction& b) {
    return a.afterMs < b.afterMs;
  });
  return actions;
}

}  // namespace korvasim
