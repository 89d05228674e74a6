# bash completion for quarn: the command word first, then its options and a project folder.
_quarn() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local kinds="dotnet cmake cargo make gradle npm maven pip go meson autotools dune mix zig swift deno bazel haskell php ruby scala dart pnpm yarn bun uv poetry cabal flutter custom"
  COMPREPLY=()
  local commands="build rebuild clean detect validate info test"
  if ((COMP_CWORD == 1)); then
    mapfile -t COMPREPLY < <(compgen -W "$commands help --version" -- "$cur")
    return
  fi
  # "quarn help build" shows build's usage.
  if [[ ${COMP_WORDS[1]} == help ]]; then
    ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    return
  fi
  local options i
  case ${COMP_WORDS[1]} in
    build | rebuild) options="--dry-run --jobs --hosts --kind --quiet --version --help" ;;
    test) options="--dry-run --jobs --kind --quiet --version --help" ;;
    clean) options="--dry-run --kind --quiet --version --help" ;;
    validate) options="--json --hosts --kind --quiet --version --help" ;;
    detect | info) options="--json --kind --quiet --version --help" ;;
    *) return ;;
  esac
  # After "--" the words are the build's or the tests' own.
  for ((i = 2; i < COMP_CWORD; i++)); do [[ ${COMP_WORDS[i]} == -- ]] && return; done
  case $prev in
    --kind)
      mapfile -t COMPREPLY < <(compgen -W "$kinds" -- "$cur")
      return
      ;;
    -j | --jobs | --hosts) return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
  fi
}
complete -F _quarn quarn
