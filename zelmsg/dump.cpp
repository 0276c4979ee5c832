// filled in by the settings store work
