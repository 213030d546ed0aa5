# The operator's README of a release package, README.txt, made from
# packaging/README.txt.in with this platform's lines: CR LF line ends for
# every Windows Notepad, LF on Linux.
if(WIN32)
  set(PLATFORMS "It runs on Windows XP SP3 and every later Windows, 32-bit and
64-bit.")
  set(START_LINES "Put map_rotation.exe beside map_list.cfg. In the server's start batch
file, before the line that starts the server:

  cd /d C:\\GameServer\\config
  map_rotation.exe

(with your own folder in place of C:\\GameServer\\config). A server
that runs for days gets a fresh order only when the tool runs again; it may
run while the server plays, for example every night from the Task
Scheduler:

  schtasks /create /sc daily /st 05:00 /tn map_rotation /tr \"cmd /c cd /d C:\\GameServer\\config && map_rotation.exe\"")
  set(FREEZE "right-click SW_rotate.cfg, Properties, tick \"Read-only\".")
  set(UNFREEZE "Clear the tick
to get a fresh order again.")
  set(HELD_FILES "

When a virus scanner or another program holds one of the files for a
moment, the tool waits for it for up to two seconds.")
  set(LINKS "")
  set(OWNERS "")
  set(CHECK_LINE "map_rotation_check.exe C:\\GameServer\\baseq3")
  set(CHECK_FOLDER "C:\\GameServer\\baseq3/")
  set(CHECK_WINDOW " Started by a double click, it waits for Enter before
its window closes.")
  set(newline_style CRLF)
else()
  set(PLATFORMS "It runs on any x86-64 Linux: the program is linked statically and needs
no libraries.")
  set(START_LINES "The program itself can live anywhere, for example in /opt/map_rotation.
In the server's start script, before the line that starts the server:

  cd /srv/gameserver/config && /opt/map_rotation/map_rotation

(with your own folders), or, where systemd starts the server, in its unit's
[Service] section (ExecStartPre= runs in the WorkingDirectory=; the check's
report, which says why a run wrote nothing, goes to the journal, and its -
lets the server start whatever it finds):

  WorkingDirectory=/srv/gameserver/config
  ExecStartPre=-/opt/map_rotation/map_rotation_check /srv/gameserver/baseq3
  ExecStartPre=/opt/map_rotation/map_rotation

A server that runs for days gets a fresh order only when the tool runs
again. It may run while the server plays, so a line in the crontab of the
server's user does it, here every night at 5:

  0 5 * * * cd /srv/gameserver/config && /opt/map_rotation/map_rotation")
  set(FREEZE "chmod a-w SW_rotate.cfg    (or: chattr +i SW_rotate.cfg)")
  set(UNFREEZE "Make it writable again
(chmod u+w SW_rotate.cfg, chattr -i SW_rotate.cfg) to get a fresh order. An
append-only script, part or folder (chattr +a) freezes the rotation too:
the tool could never replace or remove a file there.")
  set(HELD_FILES "")
  set(LINKS "

Where SW_rotate.cfg is a symbolic link, the rotation goes beside the file
it points to, but the server looks for the parts in its own folder: so a
SW_rotate.cfg in the server's folder that links elsewhere works only for
a rotation of one file. Let SW_rotate.cfg in a folder of the tool's own
link into the server's folder, or link the whole folder.")
  set(CHECK_LINE "/opt/map_rotation/map_rotation_check /srv/gameserver/baseq3")
  set(CHECK_FOLDER "/srv/gameserver/baseq3/")
  set(CHECK_WINDOW "")
  set(OWNERS "

Started as root (sudo, cron, a systemd unit), the tool never does more than
the users who may change the folders on its way could. It walks to
SW_rotate.cfg one folder at a time, holding each open, and trusts a folder
or a link as root only where every folder above it, up to /, belongs to
root and no one else may write it. At the first folder another user owns
(the server's folder, or a folder of root's inside it), it gives up root
for good for that user, in the folder's group where the user belongs to
it, else in the user's own group, and does all the rest as that user: the
rotation it makes is that user's, and nothing the user planted (a link, a
folder swapped for a link) reaches anything the user couldn't. Where a
folder of root's on the way may be written by its group or others, it
writes nothing: make it root's alone (chmod go-w), give it to the server's
user (chown), or run the tool as that user. map_list.cfg is read as root
only where no one else may change its way, else as the user who may.
map_rotation_check says whom a run acts as, by name, and what it refuses.
A symbolic link among the rotation's files or in map_list.cfg's place is
followed only where it belongs to the user the run acts as or to the
folder's owner; one that someone else planted leaves the rotation as it is.

The new files keep the permissions, and (for a run as root) the owner and
group, of the files they replace; new parts take those of SW_rotate.cfg,
but never let others write them. A new SW_rotate.cfg takes the folder's
group where the run may set it (else the group of the user it runs as) and
mode 0640 (its owner reads and writes it, its group reads it, no one else)
whatever the umask. Where the tool may not create files in the folder, a
rotation that fits in SW_rotate.cfg alone, with no further part left
beside it, is written over it, and on any failure its previous content is
put back; never where SW_rotate.cfg has a second name (a hard link) or
belongs to another user.")
  set(newline_style UNIX)
endif()
# Line ends are set in a second pass: the first leaves those of the
# platform's lines above as they are.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/packaging/README.txt.in
               README.txt.filled @ONLY)
configure_file(${CMAKE_CURRENT_BINARY_DIR}/README.txt.filled README.txt
               @ONLY NEWLINE_STYLE ${newline_style})
