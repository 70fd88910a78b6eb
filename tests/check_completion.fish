# The fish completion of orvalen-cli loads, and completing a few command
# lines offers what the program accepts there.
# Usage: fish --no-config check_completion.fish <orvalen-cli.fish>
source $argv[1]; or exit 1
set -l scratch (mktemp -d); or exit 1
mkdir $scratch/dir; and touch $scratch/file; and cd $scratch; or exit 1

set -g failures 0
# expect <command line> <the words offered, sorted>
function expect
    set -l got (complete -C $argv[1] | string replace -r '\t.*' '' | sort | string join ' ')
    if test "$got" != "$argv[2]"
        echo "'$argv[1]' offers '$got', expected '$argv[2]'"
        set -g failures 1
    end
end
expect 'orvalen-cli ' 'create digest update verify'
expect 'orvalen-cli -q ve' 'verify'
expect 'orvalen-cli --form' '--format'
expect 'orvalen-cli --format ' 'json text'
expect 'orvalen-cli digest -a sha' 'sha1 sha256 sha384 sha512'
expect 'orvalen-cli create ' 'dir/ file'
expect 'orvalen-cli digest --che' '--check'
expect 'orvalen-cli --metrics-l' '--metrics-label'
expect 'orvalen-cli update --acc' '--accept'
expect 'orvalen-cli --metrics ' 'dir/ file'
cd /; rm -rf $scratch
exit $failures
