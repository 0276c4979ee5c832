<?php
$list[0]["entry"][0]["title"] = "Song \"A\"";
$list[0]["entry"][0]["path"] = "/x/it\'s.mp3";
$list[0]["entry"][1]["title"] = "B";
$list[0]["entry"][1]["path"] = "/x/b.mp3";
?>
