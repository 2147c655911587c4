#!/usr/bin/env python3
"""Writes the bash completion of quillmark-cli from its own --help.

It completes the command names, each command's options, and file names where
a command takes a source or an option takes a file or a folder.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import cli_help  # noqa: E402

TEMPLATE = """\
# bash completion for quillmark-cli. Made from the program's --help when it
# was built; do not edit.

_quillmark_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            @COMMAND_PATTERN@) command=${COMP_WORDS[i]}; break ;;
        esac
    done

    local options valued paths
    case $command in
@COMMAND_CASES@
        *) options="@TOP_OPTIONS@"; valued=""; paths="" ;;
    esac

    # The value of an option: a path where it names a file or a folder,
    # else whatever the user types.
    if [[ -n $paths && " $paths " == *" $prev "* ]]; then
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
        return
    fi
    if [[ -n $valued && " $valued " == *" $prev "* ]]; then
        COMPREPLY=()
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "@COMMANDS@" -- "$cur"))
    else
        # A source: an image file or a block device under /dev.
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _quillmark_cli quillmark-cli
"""


def option_words(entries):
    """All spellings; those that take a value; those whose value is a path."""
    names, valued, paths = [], [], []
    for entry in entries:
        names += entry.names()
        if entry.takes_value():
            valued += entry.names()
            if any(word in entry.description for word in ("file", "folder")):
                paths += entry.names()
    return " ".join(names), " ".join(valued), " ".join(paths)


def completion(program):
    top = cli_help.run_help(program)
    commands = top.subcommands()
    if not commands:
        raise ValueError(f"{program} --help lists no commands")
    cases = []
    for command in commands:
        options, valued, paths = option_words(cli_help.run_help(program, command).options())
        cases.append(f'        {command}) options="{options}"; valued="{valued}"; paths="{paths}" ;;')
    top_options, _, _ = option_words(top.options())
    return (TEMPLATE.replace("@COMMAND_PATTERN@", "|".join(commands))
            .replace("@COMMAND_CASES@", "\n".join(cases))
            .replace("@TOP_OPTIONS@", top_options)
            .replace("@COMMANDS@", " ".join(commands)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    text = completion(args.program)
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
