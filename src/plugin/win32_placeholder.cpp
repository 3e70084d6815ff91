int zb_placeholder_win32 = 0;
