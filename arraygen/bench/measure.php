<?php
// Runs one command and prints "WALL CPU RSS": wall and CPU (user + system)
// seconds, peak resident KB; "limit" when it ran longer than LIMIT seconds.
//   php measure.php LIMIT OUT CMD ARGS...   (OUT receives standard output)
// The peak comes from GNU time: a child's own peak would include the PHP
// process it was forked from. timeout stops the command's whole process group.
[$limit, $out] = [$argv[1], $argv[2]];
$rssFile = tempnam(sys_get_temp_dir(), 'measure');
$cmd = array_merge(['timeout', $limit, '/usr/bin/time', '-f', '%M', '-o', $rssFile], array_slice($argv, 3));
$t0 = hrtime(true);
$p = proc_open($cmd, [0 => ['file', '/dev/null', 'r'], 1 => ['file', $out, 'w'], 2 => STDERR], $pipes);
if (!$p) {
    fwrite(STDERR, "measure: cannot start $argv[3]\n");
    exit(1);
}
$status = proc_close($p);
$wall = (hrtime(true) - $t0) / 1e9;
$rss = (int)file_get_contents($rssFile);
unlink($rssFile);
if ($status === 124) {
    echo "limit\n";
    exit(0);
}
if ($status !== 0) {
    fwrite(STDERR, "measure: $argv[3] exited with status $status\n");
    exit(1);
}
$u = getrusage(1);
$cpu = $u['ru_utime.tv_sec'] + $u['ru_utime.tv_usec'] / 1e6 + $u['ru_stime.tv_sec'] + $u['ru_stime.tv_usec'] / 1e6;
printf("%.4f %.4f %d\n", $wall, $cpu, $rss);
