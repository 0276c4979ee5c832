<?php
$name = "x";
?>
