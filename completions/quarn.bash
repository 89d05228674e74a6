# bash completion for quarn: the command word first, then a project folder.
_quarn() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  COMPREPLY=()
  case $COMP_CWORD in
    1)
      mapfile -t COMPREPLY < <(compgen -W "build rebuild detect validate info help" -- "$cur")
      ;;
    2)
      case ${COMP_WORDS[1]} in
        build | rebuild | detect | validate | info)
          compopt -o filenames 2>/dev/null
          mapfile -t COMPREPLY < <(compgen -d -- "$cur")
          ;;
      esac
      ;;
  esac
}
complete -F _quarn quarn
