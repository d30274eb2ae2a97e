return "telemetry"
