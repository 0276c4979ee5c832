<?php
// Writes a media list of about SIZE megabytes in the player's document shape:
// many entries of a few short leaves.  php gen_media.php SIZE_MB OUT.xml
[$mb, $out] = [(float)($argv[1] ?? 50), $argv[2] ?? 'php://stdout'];
$limit = (int)($mb * 1024 * 1024);
$f = fopen($out, 'w');
$written = fwrite($f, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<list>\n");
mt_srand(1);
$artists = ['Nadia Kové', "Guns N' Roses", 'The "Quoted" Band', 'Ōkami', 'Zee &amp; Co', 'Les Étoiles'];
$kinds = [['mp3', 'audio'], ['flac', 'audio'], ['mkv', 'video'], ['jpg', 'photo']];
for ($i = 1; $written < $limit; $i++) {
    $artist = $artists[mt_rand(0, count($artists) - 1)];
    [$ext, $type] = $kinds[mt_rand(0, count($kinds) - 1)];
    $title = sprintf('Track %05d', $i);
    $entry = "<entry>\n<title>$title</title>\n<artist>$artist</artist>\n"
           . "<path>/share/HARD_DISK/Media/$artist/$title.$ext</path>\n"
           . '<size>' . mt_rand(10000, 900000000) . "</size>\n<type>$type</type>\n"
           . '<date>2024-' . sprintf('%02d-%02d', mt_rand(1, 12), mt_rand(1, 28)) . "</date>\n</entry>\n";
    $written += fwrite($f, $entry);
}
fwrite($f, "</list>\n");
fclose($f);
