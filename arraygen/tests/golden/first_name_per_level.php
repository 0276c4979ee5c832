<?php
$cfg[0]["net"][0]["ip"] = "1";
$cfg[0]["net"][1]["size"] = "2";
?>
