zorv_version = "0.2.6.2293"
