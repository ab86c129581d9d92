# bash completion for brenwick-cli: options, actions, devices, part ids and
# ports, in both of its command-line styles.

_brenwick_cli_devices() {
    brenwick-cli --list-devices 2>/dev/null | awk 'NR > 1 { print $1 }'
}

_brenwick_cli_part_ids() {
    brenwick-cli --list-part-ids 2>/dev/null | awk '{ print $1 }'
}

_brenwick_cli_ports() {
    local p
    echo COM1 COM2 COM3 COM4
    for p in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/*; do
        [ -e "$p" ] && echo "$p"
    done
    _brenwick_cli_devices | sed 's/^/sim:/'
    brenwick-cli --list-ports 2>/dev/null | awk '$1 ~ /^ftdi:/ { print $1 }'
    echo ftdi:
}

_brenwick_cli() {
    local cur prev words cword
    _init_completion -n := || return

    case $prev in
        --port | -P)
            COMPREPLY=($(compgen -W "$(_brenwick_cli_ports)" -- "$cur"))
            __ltrim_colon_completions "$cur"
            return
            ;;
        --device)
            COMPREPLY=($(compgen -W "auto $(_brenwick_cli_devices) $(_brenwick_cli_part_ids)" -- "$cur"))
            return
            ;;
        -p)
            COMPREPLY=($(compgen -W "$(_brenwick_cli_part_ids)" -- "$cur"))
            return
            ;;
        -c)
            COMPREPLY=($(compgen -W "ponyser siprog" -- "$cur"))
            return
            ;;
        -U)
            if [[ $cur != *:* ]]; then
                COMPREPLY=($(compgen -W "flash: eeprom: lfuse: hfuse: efuse: lock: signature: calibration:" -- "$cur"))
                compopt -o nospace
            elif [[ $cur == *:*:* ]]; then
                _filedir
            else
                COMPREPLY=($(compgen -W "${cur%%:*}:w: ${cur%%:*}:r: ${cur%%:*}:v:" -- "$cur"))
                compopt -o nospace
            fi
            __ltrim_colon_completions "$cur"
            return
            ;;
        write-prog | write-data | verify-prog | verify-data | read-prog | read-data)
            _filedir '@(hex|a90|epp|eep|elf|bin|raw)'
            return
            ;;
        write-lock | verify-lock)
            COMPREPLY=($(compgen -W "none lb1 lb2 lb1,lb2 fstrt" -- "$cur"))
            _filedir elf
            return
            ;;
        write-fuses | verify-fuses)
            COMPREPLY=($(compgen -W "lfuse= hfuse= efuse=" -- "$cur"))
            compopt -o nospace
            _filedir elf
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--port --device --quiet --allow-cutoff --list-devices
            --list-ports --list-part-ids --version --help -p -P -c -e -U -V" -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -W "erase erase-prog erase-data write-prog write-data verify-prog
        verify-data read-prog read-data write-lock verify-lock read-lock read-fuses write-fuses
        verify-fuses detect check" -- "$cur"))
}
complete -F _brenwick_cli brenwick-cli
