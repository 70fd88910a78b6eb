# The zsh completion of orvalen-cli loads through compinit, as zsh finds it
# in its function path, and completing a few command lines in an interactive
# zsh on a pseudo terminal offers what the program accepts there.
# Usage: zsh -f check_completion.zsh <folder holding _orvalen-cli>
zmodload zsh/zpty || exit 1
setopt extended_glob
folder=${1:A}
scratch=$(mktemp -d) || exit 1
trap 'zpty -d shell 2>/dev/null; rm -rf $scratch' EXIT
mkdir $scratch/dir && : > $scratch/file

zpty -b shell "zsh -f -i"
zpty -w shell "PS1=''; cd $scratch; fpath=($folder \$fpath); autoload -Uz compinit; compinit -u -D; \
unsetopt zle_bracketed_paste; print -r -- \${_comps[orvalen-cli]:-unknown}; print READ\"\"Y"
zpty -r shell loaded '*READY*'
if [[ $loaded != *_orvalen-cli* ]]; then
  print -r -- "zsh did not take the completion from $folder: $loaded"
  exit 1
fi

failures=0
# expect <command line> <words the completion must show>
expect() {
  local line=$1 shown word
  shift
  # Whatever the completion shows ends at the marker the next command
  # prints. That command prints the line as completed too: zle may draw
  # only the letters a completion added, when the typed ones were drawn
  # before it ran, as happens on a busy machine.
  zpty -n -w shell "$line"$'\t'
  zpty -w shell $'\C-aprint -r -- \C-e DO""NE'
  zpty -r shell shown '*DONE*'
  # Without the terminal's colour and cursor sequences.
  shown=${shown//$'\e'\[[0-9;?]#[a-zA-Z]/}
  for word in "$@"; do
    if [[ $shown != *$word* ]]; then
      print -r -- "'$line' does not offer '$word'"
      failures=1
    fi
  done
}
expect 'orvalen-cli ' create verify update digest
expect 'orvalen-cli -q ve' verify
expect 'orvalen-cli --form' --format=
expect 'orvalen-cli digest -a sha' sha1 sha256 sha384 sha512
expect 'orvalen-cli create ' dir/
expect 'orvalen-cli digest --che' --check
expect 'orvalen-cli --metrics-l' --metrics-label=
expect 'orvalen-cli update --acc' --accept=
exit $failures
