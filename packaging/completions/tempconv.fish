# SPDX-License-Identifier: MIT
# fish completion for tempconv: its options, and the scale names after -f and -t.
set -l scales 'C F K R celsius fahrenheit kelvin rankine'
complete -c tempconv -s f -l from -x -a $scales -d 'the scale of values written without one'
complete -c tempconv -s t -l to -x -a $scales -d 'the scale of the results'
complete -c tempconv -s d -l digits -x -d 'significant digits, 1 to 30'
complete -c tempconv -s p -l places -x -d 'digits after the point, 0 to 30'
complete -c tempconv -l field -x -d 'the fields to convert: N, N-M, N-, -M'
complete -c tempconv -l delimiter -x -d 'the character between fields'
complete -c tempconv -l header -d 'copy the first N lines unchanged'
complete -c tempconv -s h -l help -d 'show the help and exit'
complete -c tempconv -s V -l version -d 'show the version and exit'
