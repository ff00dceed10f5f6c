# SPDX-License-Identifier: MIT
# fish completion for tempconv: its options, and the scale names after -f and -t.
# The scales' letters and names, as the program's --help lists them.
function __tempconv_scales
    command tempconv --help 2>/dev/null | awk '/^Scales:/ { on = 1; next } on && /^$/ { exit } on && /^  / { letters = letters " " $1; for (i = 2; i < NF; i++) { name = $i; sub(/,$/, "", name); names = names " " name } } END { print substr(letters names, 2) }' | string split ' '
end
complete -c tempconv -s f -l from -x -a '(__tempconv_scales)' -d 'the scale of values written without one'
complete -c tempconv -s t -l to -x -a '(__tempconv_scales)' -d 'the scale of the results'
complete -c tempconv -s d -l digits -x -d 'significant digits, 1 to 30'
complete -c tempconv -s p -l places -x -d 'digits after the point, 0 to 30'
complete -c tempconv -l difference -d 'convert temperature differences, not readings'
complete -c tempconv -l decimal-comma -d 'read and write a comma as the decimal separator'
complete -c tempconv -l invalid -x -a 'fail warn ignore abort' -d 'what to do with a value that cannot be converted'
complete -c tempconv -l field -x -d 'the fields to convert: N, N-M, N-, -M or column names'
complete -c tempconv -l delimiter -x -a 'tab' -d 'the character between fields'
complete -c tempconv -l header -d 'copy the first N lines unchanged'
complete -c tempconv -s z -l zero-terminated -d 'lines end with NUL, not newline'
complete -c tempconv -s h -l help -d 'show the help and exit'
complete -c tempconv -s V -l version -d 'show the version and exit'
