// Draws the report's line chart from the graph list and the data set that the program writes
// into the hidden inputs, then calls makeChart().

var graphColors = ['#FF0000', '#00CC00', '#0000FF', '#CCCC00'];
var reportChart = null;

// JSON reviver: "yyyy-MM-dd hh:mm:ss" under the key "datetime" becomes a local date.
function dateTimeReceiver(key, value) {
    if (key === 'datetime' && typeof value === 'string') {
        var p = value.split(/[-: ]/);
        return new Date(+p[0], +p[1] - 1, +p[2], +p[3], +p[4], +p[5]);
    }
    return value;
}

function withAlpha(hex, alpha) {
    var n = parseInt(hex.substring(1), 16);
    return 'rgba(' + ((n >> 16) & 255) + ',' + ((n >> 8) & 255) + ',' + (n & 255) + ',' + alpha + ')';
}

// "1mm", "5mm", "10mm": the smallest period the date axis shows, in minutes; "1dd": whole
// days, for a report of several days.
function smallestPeriod(code) {
    var m = /^(\d+)(mm|dd)$/.exec(code || '');
    if (!m)
        return { unit: 'minute', step: 1 };
    return { unit: m[2] === 'dd' ? 'day' : 'minute', step: +m[1], days: m[2] === 'dd' };
}

// Dashed lines at a graph's critical limits, in the graph's colour.
var limitPlugin = {
    afterDatasetsDraw: function (chart) {
        var scale = chart.scales['y-axis-0'];
        var area = chart.chartArea;
        var ctx = chart.ctx;
        chart.data.datasets.forEach(function (dataset) {
            if (dataset.limits === undefined)
                return;
            dataset.limits.forEach(function (limit) {
                var y = scale.getPixelForValue(limit);
                if (y < area.top || y > area.bottom)
                    return;
                ctx.save();
                ctx.strokeStyle = dataset.borderColor;
                ctx.lineWidth = 1;
                ctx.setLineDash([6, 4]);
                ctx.beginPath();
                ctx.moveTo(area.left, y);
                ctx.lineTo(area.right, y);
                ctx.stroke();
                ctx.restore();
            });
        });
    }
};

// A value axis label: from 1e9 on in magnitude in exponent notation with two decimals and a
// two-digit exponent ("1.00e+09", "-3.40e+38"), as the program writes values into the tables,
// so that one extreme value cannot widen the axis over the chart; below that the chart
// library's own labels.
var exponentFrom = 1e9;
function axisLabel(value, index, values) {
    if (!isFinite(value) || Math.abs(value) < exponentFrom)
        return Chart.Ticks.formatters.linear(value, index, values);
    return value.toExponential(2).replace(/e([+-])(\d)$/, 'e$10$2');
}

// A faint vertical line under the pointer, like a chart cursor.
var cursorPlugin = {
    afterDatasetsDraw: function (chart) {
        var active = chart.tooltip && chart.tooltip._active;
        if (!active || !active.length)
            return;
        var x = active[0].tooltipPosition().x;
        var area = chart.chartArea;
        var ctx = chart.ctx;
        ctx.save();
        ctx.globalAlpha = 0.1;
        ctx.strokeStyle = '#000000';
        ctx.lineWidth = 1;
        ctx.beginPath();
        ctx.moveTo(x, area.top);
        ctx.lineTo(x, area.bottom);
        ctx.stroke();
        ctx.restore();
    }
};

function makeChart() {
    var graphText = $('#GraphData').val();
    var dataText = $('#ChartData').val();
    if (!graphText || !dataText)
        return;
    var graphs = JSON.parse(graphText);
    var points = JSON.parse(dataText, dateTimeReceiver);
    var period = smallestPeriod($('#minPeriod').val());
    // A label every day crowds a month's axis, and the chart library's own thinning of day
    // labels fails on some months (30 days: every label drawn): at most about 16 day labels.
    if (period.days && points.length > 1) {
        var spanDays = (points[points.length - 1].datetime - points[0].datetime) / 86400000;
        period.step = Math.max(1, Math.ceil(spanDays / 16));
    }

    var datasets = [];
    for (var i = 0; i < graphs.length; ++i) {
        var g = graphs[i];
        var color = graphColors[i % graphColors.length];
        var data = [];
        for (var j = 0; j < points.length; ++j) {
            var point = points[j];
            // A point without this graph's field is a gap; connect:false keeps it open.
            var y = point.hasOwnProperty(g.valueField) ? point[g.valueField] : null;
            data.push({ x: point.datetime, y: y });
        }
        datasets.push({
            label: g.title,
            data: data,
            borderColor: withAlpha(color, g.lineAlpha),
            backgroundColor: color,
            borderWidth: 1.5,
            fill: false,
            cubicInterpolationMode: g.type === 'smoothedLine' ? 'monotone' : 'default',
            lineTension: g.type === 'smoothedLine' ? 0.4 : 0,
            spanGaps: g.connect === true,
            hidden: g.hidden === true,
            pointRadius: 0,
            pointHitRadius: 4,
            limits: g.lower !== undefined ? [g.lower, g.upper] : undefined
        });
    }

    // The limits stay in sight even where the values keep well inside them.
    var limitValues = [];
    for (var k = 0; k < graphs.length; ++k) {
        if (graphs[k].lower !== undefined && !graphs[k].hidden)
            limitValues.push(graphs[k].lower, graphs[k].upper);
    }

    var div = $('#chartdiv');
    div.empty();
    var canvas = document.createElement('canvas');
    canvas.width = div.width();
    canvas.height = div.height();
    div.append(canvas);

    reportChart = new Chart(canvas.getContext('2d'), {
        type: 'line',
        data: { datasets: datasets },
        plugins: [cursorPlugin, limitPlugin],
        options: {
            responsive: false,
            animation: false,
            layout: { padding: { top: 10, right: 10, bottom: 3, left: 3 } },
            legend: {
                position: 'bottom',
                align: 'start',
                labels: { boxWidth: 10, fontSize: 10, padding: 3 }
            },
            hover: { mode: 'index', intersect: false, animationDuration: 0 },
            tooltips: { mode: 'index', intersect: false },
            scales: {
                xAxes: [{
                    type: 'time',
                    time: {
                        unit: period.days ? 'day' : undefined,
                        minUnit: period.unit,
                        stepSize: period.step,
                        tooltipFormat: 'YYYY-MM-DD HH:mm:ss',
                        displayFormats: { minute: 'HH:mm', hour: 'HH:mm', day: 'MM-DD' }
                    },
                    gridLines: { color: 'rgba(0,0,0,0.17)', zeroLineColor: '#DADADA' },
                    ticks: { fontSize: 10, maxRotation: 0, autoSkip: true }
                }],
                yAxes: [{
                    gridLines: { color: 'rgba(0,0,0,0.07)' },
                    ticks: {
                        fontSize: 10,
                        callback: axisLabel,
                        suggestedMin: limitValues.length ? Math.min.apply(null, limitValues) : undefined,
                        suggestedMax: limitValues.length ? Math.max.apply(null, limitValues) : undefined
                    }
                }]
            }
        }
    });
}

$(document).ready(function () {
    makeChart();
});
