# fish completion for orvalen-cli

set -l commands create verify update digest

complete -c orvalen-cli -f
complete -c orvalen-cli -n "not __fish_seen_subcommand_from $commands" -a create -d 'Hash a tree and write its checksums file'
complete -c orvalen-cli -n "not __fish_seen_subcommand_from $commands" -a verify -d 'Hash the tree again and compare'
complete -c orvalen-cli -n "not __fish_seen_subcommand_from $commands" -a update -d 'Bring the checksums file up to date'
complete -c orvalen-cli -n "not __fish_seen_subcommand_from $commands" -a digest -d 'Print or check digests of files'

# SOURCE_DIR, then CHECKSUMS_FILE; digest takes files and lists.
complete -c orvalen-cli -n "__fish_seen_subcommand_from create verify update" -F
complete -c orvalen-cli -n "__fish_seen_subcommand_from digest" -F

complete -c orvalen-cli -s q -l quiet -d 'Write nothing to stderr but error messages'
complete -c orvalen-cli -s h -l help -d 'Show the help and exit'
complete -c orvalen-cli -s v -l version -d 'Show the version and exit'
complete -c orvalen-cli -s a -l algorithm -x -a 'md5 sha1 sha256 sha384 sha512' -d 'Algorithm of the digest command'
complete -c orvalen-cli -s j -l jobs -x -d 'How many files are hashed at once'
complete -c orvalen-cli -s c -l check -d 'digest: check the files named in lists of digests'
complete -c orvalen-cli -l damage-only -d 'verify: only possibly damaged files'
complete -c orvalen-cli -l format -x -a 'text json' -d 'Output of create, verify and update'
complete -c orvalen-cli -l subset -x -a 'auto/7' -d 'verify: read only slice K of N'
complete -c orvalen-cli -l metrics -r -F -d "Write the run's figures for Prometheus to FILE"
complete -c orvalen-cli -l metrics-label -x -d 'The name label of the metrics'
complete -c orvalen-cli -l accept -r -F -d "update: store FILE's digest even where it is held back"
