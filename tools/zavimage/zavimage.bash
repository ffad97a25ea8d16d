# bash completion for zavimage (needs nothing but bash itself)
_zavimage_files() {  # _zavimage_files [-d]: file or folder names
    local IFS=$'\n'
    if [[ ${1-} == -d ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
    compopt -o filenames 2>/dev/null
}

_zavimage() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="annotate convert info resize flip copy text box run formats demo help"
    if [[ $COMP_CWORD -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi
    local command=${COMP_WORDS[1]}
    case $prev in
        --out-dir) _zavimage_files -d; return ;;
        -o | --output) _zavimage_files; return ;;
        --format)
            COMPREPLY=($(compgen -W "bmp dib jpg jpeg jpe sr ras pbm pgm ppm tif tiff png" \
                -- "$cur"))
            return
            ;;
        --text-color)
            COMPREPLY=($(compgen -W "black white red green blue yellow cyan magenta gray orange" \
                -- "$cur"))
            return
            ;;
        --background)
            COMPREPLY=($(compgen -W "black white gray red green blue yellow" -- "$cur"))
            return
            ;;
        --anchor)
            COMPREPLY=($(compgen -W "top-left top top-right left center right bottom-left bottom
                bottom-right" -- "$cur"))
            return
            ;;
        --font | --boxes) _zavimage_files; return ;;
        --resize-filter)
            COMPREPLY=($(compgen -W "nearest area linear cubic lanczos" -- "$cur"))
            return
            ;;
        --box-style) COMPREPLY=($(compgen -W "marker rect" -- "$cur")); return ;;
        --box-color)
            COMPREPLY=($(compgen -W "red green blue yellow white black" -- "$cur"))
            return
            ;;
        --text | --at | --size | --space | --box | --resize | --quality | --jpeg-quality | \
            --jobs | -j | --from | --to | --opacity | --outline | --min-score | --box-width | \
            --name)
            return
            ;;
    esac
    local steps="--flip --resize --resize-filter --auto-orient --text --at --anchor --size --space
        --text-color --opacity --outline --background --font --classic --box --boxes --min-score
        --box-color --box-style --box-width --label --no-label --color --quality --jpeg-quality"
    local keep="--in-place --no-clobber --quiet --verbose --print-job --help"
    local options
    case $command in
        annotate) options="$steps $keep --output --out-dir --format --recursive --jobs --name" ;;
        convert | resize | flip | text | box) options="$steps $keep --format" ;;
        copy) options="--from --to --quality --jpeg-quality --color --format $keep" ;;
        info) options="--verify --json --help" ;;
        run) options="--jobs --quiet --verbose --print-job --help" ;;
        formats) options="--json --help" ;;
        help) COMPREPLY=($(compgen -W "$commands" -- "$cur")); return ;;
        *) options="--help" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options --" -- "$cur"))
        return
    fi
    if [[ $command == demo ]]; then
        _zavimage_files -d
    else
        _zavimage_files
    fi
}
complete -F _zavimage zavimage
