<?php
$liste[0]["titre"] = "Été “x” ü";
$liste[0]["é"] = "ß";
$liste[1]["t"] = "1";
?>
