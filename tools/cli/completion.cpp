#include "cli/completion.hpp"

#include <CLI/CLI.hpp>

#include "input/encoding.hpp"
#include "input/export_format.hpp"
#include "qv_vcard/qvVCard.hpp"

namespace qvvcard {

namespace {

// Every name of the options of app: "--out-dir -o ...".
std::string OptionWords(const CLI::App& app) {
  std::string words;
  for (const CLI::Option* opt : app.get_options()) {
    if (opt->get_positional()) continue;
    for (const std::string& n : opt->get_lnames()) words += " --" + n;
    for (const std::string& n : opt->get_snames()) words += " -" + n;
    for (const std::string& n : opt->get_fnames()) {
      if (n.size() > 2 && n.starts_with("--") && words.find(" " + n) == std::string::npos) {
        words += " " + n;
      }
    }
  }
  return words.empty() ? words : words.substr(1);
}

}  // namespace

std::string BashCompletion(const CLI::App& app) {
  std::string properties;
  for (const qv_VCard::PropertyInfo& info : qv_VCard::Properties()) {
    properties += std::string(properties.empty() ? "" : " ") + info.name;
  }
  std::string encodings, exports, subcommands, alternatives;
  for (const std::string_view e : EncodingNames()) encodings += " " + std::string(e);
  for (const ExportFormat& f : KnownExports()) exports += " " + std::string(f.key);
  std::string cases;
  for (const CLI::App* sub : app.get_subcommands({})) {
    subcommands += " " + sub->get_name();
    alternatives += "|" + sub->get_name();
    cases += "    " + sub->get_name() + ") opts=\"" + OptionWords(*sub) + "\" ;;\n";
  }
  return R"(# bash completion for qvvcard
_qvvcard() {
  local cur prev sub="" i
  COMPREPLY=()
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD-1]}
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      )" +
         alternatives.substr(1) +
         R"() sub=${COMP_WORDS[i]}; break ;;
    esac
  done
  case $prev in
    --format) COMPREPLY=($(compgen -W "csv jsonl vcf" -- "$cur")); return ;;
    --to) COMPREPLY=($(compgen -W "csv jsonl" -- "$cur")); return ;;
    --encoding) COMPREPLY=($(compgen -W ")" +
         encodings.substr(1) + R"(" -- "$cur")); return ;;
    --delimiter) COMPREPLY=($(compgen -W "comma semicolon tab" -- "$cur")); return ;;
    --columns) COMPREPLY=($(compgen -W ")" +
         exports.substr(1) + R"(" -- "$cur") $(compgen -f -- "$cur")); return ;;
    --out-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --get) COMPREPLY=($(compgen -W "$_qvvcard_properties vCard vCardFileName" -- "$cur")); return ;;
    -o|--output|--uid-from|--port|--bind|--threads|--max-body|--cors|--max-record-bytes) return ;;
  esac
  local opts
  case $sub in
)" + cases +
         R"(    *) opts=")" + OptionWords(app) + R"(" ;;
  esac
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$opts" -- "$cur"))
  elif [[ -z $sub ]]; then
    # Subcommands, or Name=value assignments of the one card.
    compopt -o nospace 2>/dev/null
    COMPREPLY=($(compgen -W ")" +
         subcommands.substr(1) +
         R"(" -- "$cur") $(compgen -S = -W "$_qvvcard_properties" -- "$cur"))
    if ((${#COMPREPLY[@]} == 1)) && [[ ${COMPREPLY[0]} != *= ]]; then COMPREPLY[0]+=" "; fi
  elif [[ $sub == batch ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  fi
}
_qvvcard_properties=")" +
         properties + R"("
complete -F _qvvcard qvvcard
)";
}

}  // namespace qvvcard
