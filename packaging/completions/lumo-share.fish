# fish completion for lumo-share: commands, their options and values, files for the items, the
# queued shares' identifiers for `queue retry` and `queue remove` and the recent uploads' slugs
# for `delete`.

set -l commands share stage queue status login logout drain recent delete settings config plan bind devices notices health background

# The identifiers of the queued shares, asked of the tool itself; nothing when the queue is empty
# or the tool cannot answer.
function __lumo_share_queue_ids
    set -l tool (commandline -opc)[1]
    $tool queue --json 2>/dev/null | string match -ar '"clientShareId":"[^"]*"' | string split -f4 '"' | sort -u
end

# The slugs of the recent uploads, from the tool's records (nothing is asked of the service).
function __lumo_share_recent_slugs
    set -l tool (commandline -opc)[1]
    $tool recent --json 2>/dev/null | string match -ar '"slug":"[^"]*"' | string split -f4 '"' | sort -u
end

complete -c lumo-share -s h -l help -d 'Print the help'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the version'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -s v -l verbose -d 'Show every diagnostic message'

complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a share -d 'Stage and publish items'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a stage -d 'Stage items in the queue'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a queue -d 'List, retry or remove queued shares'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a status -d 'Sign-in, plan, server and queue'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a login -d 'Sign in with a token'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a logout -d 'Forget the sign-in token'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a drain -d 'Publish the shares that are due'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a recent -d 'Recent uploads'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a delete -d 'Take shares back'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a settings -d 'Show or change the defaults'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a config -d 'Point the tool at a service'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a plan -d 'Fetch the plan'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a bind -d 'Bind anonymous uploads'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a devices -d 'Paired devices'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a notices -d 'Notices of this machine'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a health -d 'Is the service up?'
complete -c lumo-share -n "not __fish_seen_subcommand_from $commands" -a background -d 'The background drain timer'

complete -c lumo-share -n "__fish_seen_subcommand_from share stage" -l text -r -d 'Text to share'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l title -r -d 'Title'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l note -r -d 'Note'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l expires -x -a '1d 7d 30d' -d 'How long it stays'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l password -d 'Ask for a password'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l password-file -r -F -d 'Password in this file'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l slug -x -d 'Custom short-link path'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l max-downloads -x -d 'Download limit'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l no-download -d 'View only'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l burn -d 'Delete after the first view'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l watermark -x -d 'Watermark text'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l watermark-position -x -a 'center diagonal' -d 'Watermark position'
complete -c lumo-share -n "__fish_seen_subcommand_from share" -l watermark-opacity -x -d 'Opacity in percent'
complete -c lumo-share -n "__fish_seen_subcommand_from share stage queue drain recent delete plan bind devices notices" -l json -d 'Print JSON'

complete -c lumo-share -n "__fish_seen_subcommand_from queue; and not __fish_seen_subcommand_from retry remove" -x -a 'retry remove'
complete -c lumo-share -n "__fish_seen_subcommand_from retry remove" -x -a '(__lumo_share_queue_ids)' -d 'Queued share'
complete -c lumo-share -n "__fish_seen_subcommand_from recent" -l check -d 'Ask which shares are still served'
complete -c lumo-share -n "__fish_seen_subcommand_from delete" -x -a '(__lumo_share_recent_slugs)' -d 'Recent upload'
complete -c lumo-share -n "__fish_seen_subcommand_from retry drain" -l all -d 'Every failed share'
complete -c lumo-share -n "__fish_seen_subcommand_from login" -l token-file -r -F -d 'Read the token from a file'
complete -c lumo-share -n "__fish_seen_subcommand_from drain notices" -l limit -x -d 'At most this many'
complete -c lumo-share -n "__fish_seen_subcommand_from notices" -l since -x -d 'After this cursor'
complete -c lumo-share -n "__fish_seen_subcommand_from notices" -l ack -x -d 'Acknowledge ID STATUS'
complete -c lumo-share -n "__fish_seen_subcommand_from settings; and not __fish_seen_subcommand_from retention password auto-upload" -x -a 'retention password auto-upload'
complete -c lumo-share -n "__fish_seen_subcommand_from retention" -x -a '1d 7d 30d'
complete -c lumo-share -n "__fish_seen_subcommand_from auto-upload" -x -a 'on off'
complete -c lumo-share -n "__fish_seen_subcommand_from config; and not __fish_seen_subcommand_from server" -x -a server
complete -c lumo-share -n "__fish_seen_subcommand_from server" -l page-base -x -d 'Origin of the share pages'
complete -c lumo-share -n "__fish_seen_subcommand_from devices" -x -a 'list pair claim remove'
complete -c lumo-share -n "__fish_seen_subcommand_from background" -x -a 'enable disable status'
